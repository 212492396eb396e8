#pragma once
// Which file systems of a drive are mounted, and unmounting them before the drive is written.

#include "Disk.h"
#include "platform/MountInfo.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vornel::fbinst {

using MountedVolume = platform::MountEntry;

// The entries of /proc/self/mountinfo text whose device is one of `devices`.
std::vector<MountedVolume> MountsOfDevices(const std::string& mountInfoText,
                                           const std::vector<dev_t>& devices);

// A block device: unmounts every mounted file system of it and its partitions, and throws
// Failure naming the mount point when one cannot be unmounted. An image file: throws when a
// loop device backed by it is mounted (the tool never unmounts what someone set up by hand).
// Judged by the opened drive's identity, never by its name.
void EnsureNothingMounted(const Disk& disk, const std::string& sysfsRoot);

} // namespace vornel::fbinst
