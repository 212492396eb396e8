#pragma once
// Small reads of sysfs (and udev data): attribute texts, device numbers and a disk's partitions.
// Every folder is taken below a root, so tests point the readers at fake trees.

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vornel::platform {

// A small sysfs or udev file's text with surrounding white space removed.
std::optional<std::string> ReadTrimmedFile(const std::string& path);

// "8:17", as sysfs and mountinfo write a device number, and back.
std::optional<dev_t> ParseDeviceNumber(std::string_view text);
std::string DeviceNumberText(dev_t device);

// The folder of the block device named `name` ("sdb"), and the one of a device number.
std::string BlockFolder(const std::string& sysfsRoot, const std::string& name);
std::string DeviceNumberFolder(const std::string& sysfsRoot, dev_t device);

// A folder's entries without "." and ".."; none when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& path);

struct SysfsPartition {
    std::string folder;
    std::string number;                // its "partition" attribute
    std::optional<std::string> device; // its "dev" attribute ("8:17")
};

// The partitions below a disk's folder: the subfolders that have a "partition" attribute.
std::vector<SysfsPartition> Partitions(const std::string& diskFolder);

// The disk's own device number and those of its partitions.
std::vector<dev_t> DiskAndPartitions(dev_t disk, const std::string& sysfsRoot);

} // namespace vornel::platform
