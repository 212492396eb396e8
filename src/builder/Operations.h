#pragma once
// The two disk operations behind the main window's buttons: make a boot disk of the selected
// drive, and give a drive's space back. They reach the window only through OperationHost, so
// tests drive them with a fake window and a recording stand-in for the disk tool.

#include "builder/RunAndWait.h"
#include "platform/Drives.h"
#include "platform/Process.h"
#include "progress/OperationProgress.h"

#include <functional>
#include <string>

namespace vornel::builder {

// What the operations need from the main window.
class OperationHost {
  public:
    virtual ~OperationHost() = default;
    virtual std::string SelectedDriveText() = 0; // the drive list's current line
    virtual bool ZipModeSelected() = 0;          // USB-ZIP rather than USB-HDD
    virtual void SetBusy(bool busy) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool ConfirmWarning(const std::string& text) = 0; // true for Yes
    virtual void ProcessEvents() = 0;
    virtual void Terminate() = 0; // the program ends once the handler has returned
    // How far the disk tool's commands are; shown until HideProgress.
    virtual void ShowProgress(const progress::ProgressView&) {}
    virtual void HideProgress() {}
};

using CommandRunner = std::function<platform::ProcessOutcome(const std::string& commandLine,
                                                             const std::function<void()>& processEvents,
                                                             const ProgressListener& onProgress)>;

// What the operations take from the system.
struct OperationEnvironment {
    std::string dataFolder;                  // ends in "/": holds Data.Vn and isolist
    std::function<std::string()> tempFolder; // ends in "/": the work folder is made in it
    platform::DriveQueries* drives = nullptr;
    CommandRunner run;
    std::string logFolder;      // where each operation leaves its log (OperationLog); none when empty
    std::string programVersion; // for the log
};

// The make button: checks the drive, unpacks the package into an emptied work folder, checks the
// payload, the custom images and the drive's size, writes the boot menu, asks (naming the drive),
// and has the disk tool format the drive and copy every file, showing how far it is. The boot
// area is FAT: an ISO of 4 GiB or more goes into a partition of its own (two at most), which the
// format reserves and the data partition gives up. A failed extraction, a list file line that
// leaves the work folder, a payload file or non-ISO image of 4 GiB or more, a third such ISO, an
// image path the command line cannot carry, or a drive smaller than the boot layout stops it with
// a message before the warning, and the work folder goes. When a tool
// command fails, no further command runs, the progress stays where it stopped, the work folder
// stays for inspection and the user is told which step failed, and why. Each failure is a
// failure::Failure shown by its Chinese text and the place of the operation's log.
void MakeBootDisk(OperationHost& host, const OperationEnvironment& environment);

// The restore button: checks the drive, asks (naming the drive), unpacks only the disk tool into
// an emptied work folder and, when the package is whole and the tool came out whole, has it give
// the drive's space back. Failures are shown as the make's are.
void RestoreSpace(OperationHost& host, const OperationEnvironment& environment);

} // namespace vornel::builder
