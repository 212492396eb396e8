#pragma once
// Who else has a drive: the process holding its lock, the processes that have it open. Read from
// /proc when a command cannot have the drive, so that its message names what to close.

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace vornel::fbinst {

struct Holder {
    pid_t pid = 0;
    std::string program; // its name as the system shows it (/proc/PID/comm), or "" when gone
};

// The processes that hold a BSD lock (flock) on the file `node` names (its st_dev and st_ino), as
// /proc/locks text lists them; lock requests still waiting are not holders.
std::vector<pid_t> FlockHolders(const std::string& locksText, const struct stat& node);

// The name of the program running as `pid`, "" when there is none.
std::string ProgramName(pid_t pid, const std::string& procRoot = "/proc");

// The holders of the lock on `node`, this process left out.
std::vector<Holder> LockHoldersOf(const struct stat& node);

// The processes, this one left out, that have one of the block devices `devices` open.
std::vector<Holder> ProcessesUsing(const std::vector<dev_t>& devices, const std::string& procRoot = "/proc");

// "udisksd (process 412)"; "process 412" for one that is gone.
std::string Describe(const Holder& holder);

} // namespace vornel::fbinst
