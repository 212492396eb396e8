#pragma once
// The volume label of a disk or disk image, read with libblkid.

#include <optional>
#include <string>

namespace vornel::platform {

// The label of the file system in the first partition of the disk or image at `path`, or of
// the whole of it when it has no partition table. nullopt when it cannot be read, holds no
// known file system, or the file system has no label.
std::optional<std::string> ProbeVolumeLabel(const std::string& path);

// A label as UTF-8 text. FAT labels are written in the code page of the system that made them;
// for this program's users that is code page 936, so a label that is not UTF-8 already is
// read as code page 936, and any byte that cannot be read so becomes "?".
std::string LabelAsUtf8(const std::string& label);

} // namespace vornel::platform
