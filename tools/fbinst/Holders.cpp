#include "Holders.h"

#include "platform/ReadWrite.h"
#include "platform/Sysfs.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vornel::fbinst {

std::vector<pid_t> FlockHolders(const std::string& locksText, const struct stat& node) {
    // "1: FLOCK  ADVISORY  WRITE 221 00:05:240 0 EOF": the file as major:minor (hex) of its file
    // system and its inode; a waiting request reads "1: -> FLOCK ...".
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long>(node.st_ino));
    std::vector<pid_t> holders;
    std::istringstream lines(locksText);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string number, kind, advisory, access, where;
        long pid = 0;
        if (words >> number >> kind >> advisory >> access >> pid >> where && kind == "FLOCK" && where == file)
            holders.push_back(static_cast<pid_t>(pid));
    }
    return holders;
}

std::string ProgramName(pid_t pid, const std::string& procRoot) {
    return platform::ReadTrimmedFile(procRoot + "/" + std::to_string(pid) + "/comm").value_or("");
}

std::vector<Holder> LockHoldersOf(const struct stat& node) {
    std::string locks;
    platform::ReadWholeFile("/proc/locks", locks);
    std::vector<Holder> holders;
    for (pid_t pid : FlockHolders(locks, node))
        if (pid != ::getpid())
            holders.push_back({pid, ProgramName(pid)});
    return holders;
}

std::vector<Holder> ProcessesUsing(const std::vector<dev_t>& devices, const std::string& procRoot) {
    std::vector<Holder> holders;
    for (const std::string& entry : platform::FolderEntries(procRoot)) {
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(entry));
        if (pid == ::getpid())
            continue;
        const std::string fds = procRoot + "/" + entry + "/fd";
        for (const std::string& fd : platform::FolderEntries(fds)) {
            struct stat info {};
            if (::stat((fds + "/" + fd).c_str(), &info) == 0 && S_ISBLK(info.st_mode) &&
                std::find(devices.begin(), devices.end(), info.st_rdev) != devices.end()) {
                holders.push_back({pid, ProgramName(pid, procRoot)});
                break;
            }
        }
    }
    return holders;
}

std::string Describe(const Holder& holder) {
    const std::string process = "process " + std::to_string(holder.pid);
    return holder.program.empty() ? process : holder.program + " (" + process + ")";
}

} // namespace vornel::fbinst
