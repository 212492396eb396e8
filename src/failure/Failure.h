#pragma once
// The one form a failure takes in the program's core: what failed, on which file, entry, folder or
// drive, and the system's (or the disk tool's) reason. The core throws it; the window turns it
// into the user's Chinese message in one place (ChineseText.h). Its what() is an English line for
// tools, tests and logs.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vornel::failure {

enum class Kind {
    // Files: subject is the path, code the errno.
    OpenFile,
    CreateFile,
    TempFolder,
    // The package. PackageDamaged: subject is the entry (its name, or its number from 1 when its
    // header is unreadable; empty for the package header), place the package, code the reader's
    // result code. DamagedData: subject is the entry, reason zlib's.
    PackageMissing,
    PackageDamaged,
    DamagedData,
    DecompressorFailed,
    NoRoomToExtract, // subject: the destination; needed and available when known
    ToolNotInPackage,
    // The checks of the make and restore operations; subject is the drive's root, the list
    // file's line or the image path.
    NoDrive,
    NotRemovable,
    WorkFolder,
    ListFileMissing,
    ListedFileMissing,
    ListedPathOutside,
    ListedFileTooLarge,
    ImageMissing,
    ImagePathMisfit,    // met by the make operation
    ImagePathRefused,   // met by the boot item dialog
    ImageTooLarge,      // 4 GiB or more, and no ISO: only an ISO gets a partition of its own
    TooManyLargeImages, // a third image of 4 GiB or more: the table has two slots left for them
    StickTooSmall,      // needed and available
    // A disk tool command that failed: subject is the step, place the work folder kept, reason
    // the tool's last line on standard error, code as toolEnd says.
    MakeCommandFailed,
    RestoreCommandFailed,
    // The disk tool's capacity check found that the stick keeps less than it reports: subject is
    // the drive's line, available the capacity it reports. Nothing was formatted.
    FakeCapacity,
};

// How a disk tool command ended when it failed; what `code` holds.
enum class ToolEnd {
    NotStarted,  // errno of the start
    Signal,      // the signal
    NoRights,    // the exit code
    CopyDiffers, // the exit code: a copy read back from the stick differs from its source
    ExitCode,    // the exit code
};

class Failure : public std::runtime_error {
  public:
    explicit Failure(Kind kind, std::string subject = {}, int code = 0, std::string reason = {},
                     std::string place = {});
    // Sizes in bytes, for the kinds where space ran short.
    Failure(Kind kind, std::string subject, std::int64_t needed, std::int64_t available);
    // A disk tool command that failed.
    Failure(Kind kind, std::string step, ToolEnd toolEnd, int code, std::string lastLine,
            std::string workFolder);

    const char* what() const noexcept override { return english_.c_str(); }

    const Kind kind;
    const std::string subject;
    const int code = 0;
    const std::string reason;
    const std::string place;
    const std::int64_t needed = 0;
    const std::int64_t available = 0;
    const ToolEnd toolEnd = ToolEnd::ExitCode;

  private:
    std::string english_;
};

// The kind's name, for logs ("ListedFileMissing").
const char* KindName(Kind kind);

// The system's English text for an errno.
std::string SystemText(int error);

} // namespace vornel::failure
