#pragma once
// The mounts a mountinfo file (/proc/self/mountinfo) lists.

#include <string>
#include <sys/types.h>
#include <vector>

namespace vornel::platform {

struct MountEntry {
    dev_t device = 0;
    std::string mountPoint; // with the kernel's octal escapes ("\040" for a blank) decoded
};

// The entries of mountinfo text ("id parent major:minor root mount-point ..." a line); lines that
// do not read so are passed over.
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// The entries of a mountinfo file; none when it cannot be read.
std::vector<MountEntry> ReadMountInfo(const std::string& path = "/proc/self/mountinfo");

} // namespace vornel::platform
