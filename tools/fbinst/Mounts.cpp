#include "Mounts.h"

#include "Failure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace vornel::fbinst {

namespace fs = std::filesystem;

namespace {

std::string Unescape(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        field.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ParseDevNumber(const std::string& text, dev_t& device) {
    unsigned major = 0, minor = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> major >> colon >> minor) || colon != ':')
        return false;
    device = makedev(major, minor);
    return true;
}

std::vector<MountedVolume> CurrentMounts(const std::vector<dev_t>& devices) {
    return MountsOfDevices(ReadWhole("/proc/self/mountinfo"), devices);
}

} // namespace

std::vector<MountedVolume> MountsOfDevices(const std::string& mountInfoText,
                                           const std::vector<dev_t>& devices) {
    std::vector<MountedVolume> mounts;
    std::istringstream lines(mountInfoText);
    std::string line;
    while (std::getline(lines, line)) {
        // mount-id parent-id major:minor root mount-point ...
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint;
        dev_t device = 0;
        if (!(fields >> id >> parent >> number >> root >> mountPoint) || !ParseDevNumber(number, device))
            continue;
        if (std::find(devices.begin(), devices.end(), device) != devices.end())
            mounts.push_back({device, Unescape(mountPoint)});
    }
    return mounts;
}

std::vector<dev_t> DiskAndPartitions(dev_t disk, const std::string& sysfsRoot) {
    std::vector<dev_t> devices{disk};
    const fs::path diskDir =
        fs::path(sysfsRoot) / "dev/block" / (std::to_string(major(disk)) + ":" + std::to_string(minor(disk)));
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(diskDir, error)) {
        dev_t device = 0;
        if (fs::exists(entry.path() / "partition", error) &&
            ParseDevNumber(ReadWhole(entry.path() / "dev"), device))
            devices.push_back(device);
    }
    return devices;
}

void EnsureNothingMounted(const Disk& disk, const std::string& sysfsRoot) {
    const std::string& path = disk.Path();
    const struct stat& info = disk.Identity();
    if (disk.IsImageFile()) {
        // A loop device over the image, mounted, would see the image change under it.
        std::vector<dev_t> loops;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "block", error)) {
            std::string backing = ReadWhole(entry.path() / "loop/backing_file");
            while (!backing.empty() && backing.back() == '\n')
                backing.pop_back();
            struct stat backingInfo {};
            dev_t device = 0;
            if (!backing.empty() && stat(backing.c_str(), &backingInfo) == 0 &&
                backingInfo.st_dev == info.st_dev && backingInfo.st_ino == info.st_ino &&
                ParseDevNumber(ReadWhole(entry.path() / "dev"), device))
                for (dev_t d : DiskAndPartitions(device, sysfsRoot))
                    loops.push_back(d);
        }
        const auto mounts = CurrentMounts(loops);
        if (!mounts.empty())
            throw Failure(path + " is mounted through a loop device at " + mounts.front().mountPoint +
                          "; unmount it first");
        return;
    }
    // Only a real block device's number may pick mounts to unmount.
    if (!S_ISBLK(info.st_mode))
        throw Failure(path + " is not a block device");
    const std::vector<dev_t> devices = DiskAndPartitions(info.st_rdev, sysfsRoot);
    for (const MountedVolume& mount : CurrentMounts(devices))
        if (umount2(mount.mountPoint.c_str(), 0) != 0 && errno != EINVAL)
            throw Failure(path + " is mounted at " + mount.mountPoint +
                          " and cannot be unmounted: " + std::strerror(errno));
    const auto left = CurrentMounts(devices);
    if (!left.empty())
        throw Failure(path + " is still mounted at " + left.front().mountPoint);
}

} // namespace vornel::fbinst
