#pragma once
// Disks the running system lives on. A stick the system booted from, or an SD card holding the
// root file system, is never offered as a removable drive: wiping it would wipe the system.

#include <set>
#include <string>

namespace vornel::platform {

// The device numbers ("8:17") of the file systems mounted at the system's own places (/, /boot,
// /boot/efi, /efi, /usr, /var, /home), read from a mountinfo file.
std::set<std::string> SystemMountDevices(const std::string& mountInfoPath);

// True when the disk, one of its partitions, or a device stacked on them (device-mapper, md)
// is one of `systemDevices`.
bool HoldsSystemMount(const std::string& sysfsRoot, const std::string& blockName,
                      const std::set<std::string>& systemDevices);

} // namespace vornel::platform
