#include "Tool.h"

#include "Disk.h"
#include "Failure.h"
#include "ImagePartition.h"
#include "Mounts.h"
#include "Verbs.h"
#include "disktool/ExitCodes.h"

#include <exception>
#include <filesystem>

namespace vornel::fbinst {

namespace {

bool Writes(Verb verb) {
    return verb == Verb::Format || verb == Verb::AddMenu || verb == Verb::Add || verb == Verb::AddImage;
}

// The drive's name must still stand for what the command opened when the command ends: an image
// renamed over, or a stick swapped, while it ran means its writes went to something the user no
// longer names (an image file that is gone), and that must not pass for success.
void CheckStillNamed(const Disk& drive) {
    struct stat now {};
    const struct stat& opened = drive.Identity();
    const bool same = drive.IsImageFile()
                          ? ::lstat(drive.Path().c_str(), &now) == 0 && S_ISREG(now.st_mode) &&
                                now.st_dev == opened.st_dev && now.st_ino == opened.st_ino
                          : ::stat(drive.Path().c_str(), &now) == 0 && S_ISBLK(now.st_mode) &&
                                now.st_rdev == opened.st_rdev;
    if (!same)
        throw Failure(drive.Path() +
                      " was replaced or removed while the command ran: what it wrote did not " +
                      "reach the drive of that name; run the command again");
}

void Execute(const Command& command, Disk& drive, std::ostream& out) {
    switch (command.verb) {
    case Verb::Format:
        if (command.restore)
            FormatRestore(drive, out);
        else
            FormatBoot(drive,
                       BootRequest{command.zipMode ? Mode::Zip : Mode::Hdd, command.align,
                                   command.primaryBytes, command.bootAreaBytes, command.imagePartitionBytes},
                       out);
        break;
    case Verb::AddMenu:
        AddMenuLine(drive, command.operands[0], command.operands[1], out);
        break;
    case Verb::Add:
        AddFile(drive, command.operands[0], command.operands[1], out);
        break;
    case Verb::AddImage:
        WriteImagePartition(drive, command.slot, command.operands[0], out);
        break;
    case Verb::Info:
        ShowInfo(drive, out);
        break;
    case Verb::List:
        ListFiles(drive, out);
        break;
    case Verb::Cat:
        CatFile(drive, command.operands[0], out);
        break;
    }
}

} // namespace

CheckedTarget ResolveTarget(char letter, const platform::LinuxDriveSources& sources) {
    std::string why;
    const auto drive = platform::ResolveRemovableDrive(letter, sources, why);
    if (!drive)
        throw Failure(std::string("drive ") + letter + ": is not a removable drive" +
                      (why.empty() ? "" : " (" + why + ")"));
    return {*drive, std::filesystem::absolute(drive->path).string()};
}

CheckedCommand CheckCommand(const std::vector<std::string>& args,
                            const platform::LinuxDriveSources& sources) {
    CheckedCommand checked;
    checked.command = disktool::ParseCommand(args);
    checked.target = ResolveTarget(checked.command.letter, sources);
    return checked;
}

void RunCommand(const CheckedCommand& checked, const std::string& sysfsRoot, std::ostream& out) {
    // Opened once, checked and locked before the first write, for the whole command.
    const bool writes = Writes(checked.command.verb);
    Disk drive(checked.target.path, checked.target.drive.isImageFile, writes, sysfsRoot);
    const auto unmount = [&] { EnsureNothingMounted(drive, sysfsRoot); };
    if (writes && drive.IsImageFile())
        unmount(); // an image mounted through a loop device is refused
    // An automounter may have mounted the drive's partitions again since the last command.
    drive.ClaimExclusively(writes ? std::function<void()>(unmount) : nullptr);
    try {
        Execute(checked.command, drive, out);
    } catch (const std::exception&) {
        // A drive cut short or swapped under the command explains its failure better than the
        // failure does (mtools calls a truncated image "non DOS media").
        drive.CheckSize();
        if (writes)
            CheckStillNamed(drive);
        throw;
    }
    if (writes)
        CheckStillNamed(drive);
    out.flush();
    if (!out)
        throw Failure("cannot write the output");
}

int ExitCodeOf(const std::function<int()>& work, std::ostream& err) {
    try {
        return work();
    } catch (const disktool::UsageError& e) {
        err << "fbinst: " << e.what() << "\n" << disktool::kUsage;
        return disktool::kExitUsage;
    } catch (const Failure& e) {
        err << "fbinst: " << e.what() << "\n";
        return e.ExitCode();
    } catch (const std::exception& e) {
        err << "fbinst: " << e.what() << "\n";
        return disktool::kExitFailure;
    }
}

} // namespace vornel::fbinst
