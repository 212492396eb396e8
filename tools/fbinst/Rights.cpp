#include "Rights.h"

#include "Failure.h"
#include "Progress.h"
#include "Tool.h"
#include "disktool/ExitCodes.h"
#include "platform/ProgramLookup.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::fbinst {

const char* const kElevatedMarker = "--elevated";

namespace {

namespace fs = std::filesystem;

std::string DriveName(char letter, const std::string& device) {
    return std::string("drive ") + letter + ": (" + device + ")";
}

// A block device needs rights; an image file (or a node that is neither, which opening the drive
// reports) never does.
bool IsBlockDevice(const CheckedTarget& target) {
    struct stat st {};
    return !target.drive.isImageFile && ::stat(target.path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

// The launcher's path, or empty when there is no executable launcher.
std::string FindLauncher(const std::string& launcher) {
    const auto found = platform::FindProgram(launcher);
    return found && ::access(found->c_str(), X_OK) == 0 ? *found : std::string();
}

// Becomes the launcher rather than waiting for it: pkexec keeps an authorization for the process
// that started it, so with the window as that process one password covers all the commands of
// an operation. The launcher's exit code (126 refused, 127 not authorized) is then the tool's.
int ExecElevated(const CheckedTarget& target, const std::vector<std::string>& args,
                 const platform::LinuxDriveSources& sources, const Elevation& elevation, std::ostream& out,
                 std::ostream& err) {
    const std::string launcher = FindLauncher(elevation.launcher);
    if (launcher.empty()) {
        err << "fbinst: " << DriveName(target.drive.letter, target.path)
            << " needs administrator rights, and pkexec, which asks for them, is not installed: nothing was "
               "written\n";
        return disktool::kExitNoRights;
    }
    std::error_code ec;
    const std::string workingFolder = fs::current_path(ec).string();
    if (ec) {
        err << "fbinst: cannot tell the working folder: " << ec.message() << "\n";
        return disktool::kExitFailure;
    }
    // pkexec clears the environment and changes the working folder: all the root side needs
    // travels as arguments, and it checks them again itself.
    std::vector<std::string> command{launcher, elevation.tool, kElevatedMarker};
    // The window's offer of the progress channel would not survive pkexec's clean environment.
    if (ProgressOffered())
        command.push_back(kProgressMarker);
    command.insert(command.end(), {target.path, sources.imageDrives, workingFolder});
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& piece : command)
        argv.push_back(piece.data());
    argv.push_back(nullptr);

    err << "fbinst: " << DriveName(target.drive.letter, target.path)
        << " needs administrator rights, asked for through pkexec; if they are refused, nothing is written "
           "and the exit code is pkexec's (126 or 127)\n";
    out.flush();
    err.flush();
    ::execv(argv[0], argv.data());
    err << "fbinst: cannot start " << launcher << ": " << std::strerror(errno) << "\n";
    return disktool::kExitNoRights;
}

// Root's own reading of the user's arguments, trusting nothing the user's side concluded: the
// letter must still resolve, with the user's image drives, to the very block device the user's
// side named. Throws Failure otherwise.
CheckedCommand CheckAsRoot(const std::vector<std::string>& userArgs,
                           const platform::LinuxDriveSources& sources, const std::string& device) {
    const auto gone = [&] {
        return Failure("the drive is no longer the block device " + device + ": nothing was written");
    };
    CheckedCommand checked;
    try {
        checked = CheckCommand(userArgs, sources);
    } catch (const std::runtime_error&) { // a Failure, or a disktool::UsageError
        throw gone();
    }
    if (!IsBlockDevice(checked.target))
        throw gone();
    if (checked.target.path != device)
        throw Failure(std::string("drive ") + checked.command.letter + ": is now " + checked.target.path +
                      ", no longer " + device + ": nothing was written");
    return checked;
}

// The root side, given the elevated form's arguments after its markers: the device, the image
// drives, the working folder and the user's arguments. Parses and resolves for itself, checks,
// and runs the command on what it checked.
int RunAsRoot(const std::vector<std::string>& args, platform::LinuxDriveSources sources, std::ostream& out,
              std::ostream& err) {
    if (args.size() < 3) {
        err << "fbinst: " << kElevatedMarker << " needs a device, the image drives and a working folder\n";
        return disktool::kExitUsage;
    }
    if (::geteuid() != 0) {
        err << "fbinst: " << kElevatedMarker << " is only for the tool run as root\n";
        return disktool::kExitNoRights;
    }
    const std::string& device = args[0];
    sources.imageDrives = args[1];
    if (::chdir(args[2].c_str()) != 0) {
        err << "fbinst: cannot enter the working folder " << args[2] << ": " << std::strerror(errno) << "\n";
        return disktool::kExitFailure;
    }
    const std::vector<std::string> userArgs(args.begin() + 3, args.end());
    return ExitCodeOf(
        [&] {
            RunCommand(CheckAsRoot(userArgs, sources, device), sources.sysfsRoot, out);
            return 0;
        },
        err);
}

// The user's side: a user's command on a block device becomes the launcher's (see ExecElevated);
// every other runs here.
int RunAsCaller(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
                const Elevation& elevation, std::ostream& out, std::ostream& err) {
    return ExitCodeOf(
        [&] {
            const CheckedCommand checked = CheckCommand(args, sources);
            if (::geteuid() != 0 && IsBlockDevice(checked.target))
                return ExecElevated(checked.target, args, sources, elevation, out, err);
            RunCommand(checked, sources.sysfsRoot, out);
            return 0;
        },
        err);
}

std::string ThisExecutable() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string("fbinst.exe");
}

} // namespace

Elevation SystemElevation() {
    Elevation elevation;
    elevation.tool = ThisExecutable();
    // The policy allows one password per operation for the installed copy only; a copy the user
    // could replace must never be the one that runs as root under that policy.
    struct stat st {};
    if (::stat(VORNEL_INSTALLED_TOOL, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        elevation.tool = VORNEL_INSTALLED_TOOL;
    return elevation;
}

int RunFbinstWithRights(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
                        const Elevation& elevation, std::ostream& out, std::ostream& err) {
    const bool elevatedForm = !args.empty() && args[0] == kElevatedMarker;
    // pkexec clears the environment: the elevated form carries the window's offer as an argument.
    const bool offerGiven = elevatedForm && args.size() > 1 && args[1] == kProgressMarker;
    if (elevatedForm ? offerGiven : ProgressOffered())
        OpenProgressChannel();
    if (!elevatedForm)
        return RunAsCaller(args, sources, elevation, out, err);
    return RunAsRoot({args.begin() + (offerGiven ? 2 : 1), args.end()}, sources, out, err);
}

} // namespace vornel::fbinst
