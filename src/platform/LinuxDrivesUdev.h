#pragma once
// What the udev database (/run/udev/data/b<major>:<minor>) says about a block device. Anyone
// may read it, which matters for labels: the device node itself is readable only by root.

#include "platform/Drives.h"

#include <optional>
#include <string>

namespace vornel::platform {

// The value of "E:KEY=" in the udev data of the device numbered `device` ("8:16").
std::optional<std::string> UdevProperty(const LinuxDriveSources& sources, const std::string& device,
                                        const std::string& key);

// Undoes udev's "\xNN" escapes of ID_*_ENC values ("My\x20Disk" -> "My Disk").
std::string DecodeUdevEscapes(const std::string& text);

// The file system label udev found on the first partition of the disk named `blockName`, or
// on the whole disk when it has no partitions.
std::optional<std::string> UdevVolumeLabel(const LinuxDriveSources& sources, const std::string& blockName);

} // namespace vornel::platform
