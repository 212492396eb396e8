#include "platform/Sysfs.h"

#include "platform/ReadWrite.h"

#include <charconv>
#include <dirent.h>
#include <sys/sysmacros.h>

namespace vornel::platform {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::optional<unsigned> ParseNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::string> ReadTrimmedFile(const std::string& path) {
    std::string text;
    if (ReadWholeFile(path, text) != 0)
        return std::nullopt;
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::optional<dev_t> ParseDeviceNumber(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto major = ParseNumber(text.substr(0, colon));
    const auto minor = ParseNumber(text.substr(colon + 1));
    if (!major || !minor)
        return std::nullopt;
    return makedev(*major, *minor);
}

std::string DeviceNumberText(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::string BlockFolder(const std::string& sysfsRoot, const std::string& name) {
    return sysfsRoot + "/block/" + name;
}

std::string DeviceNumberFolder(const std::string& sysfsRoot, dev_t device) {
    return sysfsRoot + "/dev/block/" + DeviceNumberText(device);
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(folder)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(std::move(name));
        }
        ::closedir(folder);
    }
    return names;
}

std::vector<SysfsPartition> Partitions(const std::string& diskFolder) {
    std::vector<SysfsPartition> partitions;
    for (const std::string& name : FolderEntries(diskFolder)) {
        const std::string folder = diskFolder + "/" + name;
        if (std::optional<std::string> number = ReadTrimmedFile(folder + "/partition"))
            partitions.push_back({folder, std::move(*number), ReadTrimmedFile(folder + "/dev")});
    }
    return partitions;
}

std::vector<dev_t> DiskAndPartitions(dev_t disk, const std::string& sysfsRoot) {
    std::vector<dev_t> devices{disk};
    for (const SysfsPartition& partition : Partitions(DeviceNumberFolder(sysfsRoot, disk))) {
        if (std::optional<dev_t> device =
                partition.device ? ParseDeviceNumber(*partition.device) : std::nullopt)
            devices.push_back(*device);
    }
    return devices;
}

} // namespace vornel::platform
