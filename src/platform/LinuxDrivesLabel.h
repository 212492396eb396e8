#pragma once
// The volume label of a disk or disk image, read with libblkid.

#include <optional>
#include <string>

namespace vornel::platform {

// The label of the file system in the first partition of the disk or image at `path`, or of
// the whole of it when it has no partition table. nullopt when it cannot be read, holds no
// known file system, or the file system has no label.
std::optional<std::string> ProbeVolumeLabel(const std::string& path);

} // namespace vornel::platform
