#include "Rights.h"

#include "Arguments.h"
#include "Progress.h"
#include "Tool.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
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

// The block device a user's command line is about, or empty when it needs no rights (or is
// wrong in a way the tool itself reports without any rights).
struct BlockTarget {
    char letter = 0;
    std::string device;
};

BlockTarget FindBlockTarget(const std::vector<std::string>& args,
                            const platform::LinuxDriveSources& sources) {
    Command command;
    try {
        command = ParseCommand(args);
    } catch (const std::exception&) {
        return {}; // the tool itself reports what is wrong with the command line
    }
    std::string why;
    const auto target = platform::ResolveRemovableDrive(command.letter, sources, why);
    struct stat st {};
    if (!target || target->isImageFile || ::stat(target->path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    return {command.letter, fs::absolute(target->path).string()};
}

// The launcher's path: as given when it names a folder, otherwise the first on PATH.
std::string FindLauncher(const std::string& launcher) {
    if (launcher.find('/') != std::string::npos)
        return ::access(launcher.c_str(), X_OK) == 0 ? launcher : std::string();
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + launcher;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Becomes the launcher rather than waiting for it: pkexec keeps an authorization for the process
// that started it, so with the window as that process one password covers all the commands of
// an operation. The launcher's exit code (126 refused, 127 not authorized) is then the tool's.
int ExecElevated(const BlockTarget& target, const std::vector<std::string>& args,
                 const platform::LinuxDriveSources& sources, const Elevation& elevation, std::ostream& out,
                 std::ostream& err) {
    const std::string launcher = FindLauncher(elevation.launcher);
    if (launcher.empty()) {
        err << "fbinst: " << DriveName(target.letter, target.device)
            << " needs administrator rights, and pkexec, which asks for them, is not installed: nothing was "
               "written\n";
        return kExitNoRights;
    }
    std::error_code ec;
    const std::string workingFolder = fs::current_path(ec).string();
    if (ec) {
        err << "fbinst: cannot tell the working folder: " << ec.message() << "\n";
        return kExitFailure;
    }
    // pkexec clears the environment and changes the working folder: all the root side needs
    // travels as arguments, and it checks them again itself.
    std::vector<std::string> command{launcher, elevation.tool, kElevatedMarker};
    // The window's offer of the progress channel would not survive pkexec's clean environment.
    if (ProgressOffered())
        command.push_back(kProgressMarker);
    command.insert(command.end(), {target.device, sources.imageDrives, workingFolder});
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& piece : command)
        argv.push_back(piece.data());
    argv.push_back(nullptr);

    err << "fbinst: " << DriveName(target.letter, target.device)
        << " needs administrator rights, asked for through pkexec; if they are refused, nothing is written "
           "and the exit code is pkexec's (126 or 127)\n";
    out.flush();
    err.flush();
    ::execv(argv[0], argv.data());
    err << "fbinst: cannot start " << launcher << ": " << std::strerror(errno) << "\n";
    return kExitNoRights;
}

// The root side: the letter must still resolve, with the user's image drives, to the very block
// device the user's side resolved it to.
int RunAsRoot(const std::vector<std::string>& args, platform::LinuxDriveSources sources, std::ostream& out,
              std::ostream& err) {
    if (args.size() < 4) {
        err << "fbinst: " << kElevatedMarker << " needs a device, the image drives and a working folder\n";
        return kExitUsage;
    }
    if (::geteuid() != 0) {
        err << "fbinst: " << kElevatedMarker << " is only for the tool run as root\n";
        return kExitNoRights;
    }
    const std::string& device = args[1];
    sources.imageDrives = args[2];
    if (::chdir(args[3].c_str()) != 0) {
        err << "fbinst: cannot enter the working folder " << args[3] << ": " << std::strerror(errno) << "\n";
        return kExitFailure;
    }
    const std::vector<std::string> userArgs(args.begin() + 4, args.end());
    const BlockTarget target = FindBlockTarget(userArgs, sources);
    if (target.device.empty()) {
        err << "fbinst: the drive is no longer the block device " << device << ": nothing was written\n";
        return kExitFailure;
    }
    if (target.device != device) {
        err << "fbinst: drive " << target.letter << ": is now " << target.device << ", no longer " << device
            << ": nothing was written\n";
        return kExitFailure;
    }
    return RunFbinst(userArgs, sources, out, err);
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
#ifdef VORNEL_INSTALLED_TOOL
    // The policy allows one password per operation for the installed copy only; a copy the user
    // could replace must never be the one that runs as root under that policy.
    struct stat st {};
    if (::stat(VORNEL_INSTALLED_TOOL, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        elevation.tool = VORNEL_INSTALLED_TOOL;
#endif
    return elevation;
}

int RunFbinstWithRights(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
                        const Elevation& elevation, std::ostream& out, std::ostream& err) {
    if (!args.empty() && args[0] == kElevatedMarker) {
        std::vector<std::string> elevated = args;
        if (elevated.size() > 1 && elevated[1] == kProgressMarker) {
            elevated.erase(elevated.begin() + 1);
            OpenProgressChannel();
        }
        return RunAsRoot(elevated, sources, out, err);
    }
    if (::geteuid() != 0) {
        const BlockTarget target = FindBlockTarget(args, sources);
        if (!target.device.empty())
            return ExecElevated(target, args, sources, elevation, out, err);
    }
    if (ProgressOffered())
        OpenProgressChannel();
    return RunFbinst(args, sources, out, err);
}

} // namespace vornel::fbinst
