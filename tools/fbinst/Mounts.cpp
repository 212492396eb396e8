#include "Mounts.h"

#include "Failure.h"
#include "platform/Sysfs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

namespace vornel::fbinst {

namespace {

std::vector<MountedVolume> OfDevices(std::vector<MountedVolume> mounts, const std::vector<dev_t>& devices) {
    std::erase_if(mounts, [&](const MountedVolume& mount) {
        return std::find(devices.begin(), devices.end(), mount.device) == devices.end();
    });
    return mounts;
}

std::vector<MountedVolume> CurrentMounts(const std::vector<dev_t>& devices) {
    return OfDevices(platform::ReadMountInfo(), devices);
}

// The loop devices backed by the image file `image` is, with their partitions.
std::vector<dev_t> LoopDevicesOver(const struct stat& image, const std::string& sysfsRoot) {
    std::vector<dev_t> loops;
    const std::string blocks = sysfsRoot + "/block";
    for (const std::string& name : platform::FolderEntries(blocks)) {
        const std::string folder = blocks + "/" + name;
        const std::optional<std::string> backing = platform::ReadTrimmedFile(folder + "/loop/backing_file");
        const std::optional<std::string> number = platform::ReadTrimmedFile(folder + "/dev");
        const std::optional<dev_t> device = number ? platform::ParseDeviceNumber(*number) : std::nullopt;
        struct stat backingInfo {};
        if (backing && !backing->empty() && device && stat(backing->c_str(), &backingInfo) == 0 &&
            backingInfo.st_dev == image.st_dev && backingInfo.st_ino == image.st_ino)
            for (dev_t d : platform::DiskAndPartitions(*device, sysfsRoot))
                loops.push_back(d);
    }
    return loops;
}

} // namespace

std::vector<MountedVolume> MountsOfDevices(const std::string& mountInfoText,
                                           const std::vector<dev_t>& devices) {
    return OfDevices(platform::ParseMountInfo(mountInfoText), devices);
}

void EnsureNothingMounted(const Disk& disk, const std::string& sysfsRoot) {
    const std::string& path = disk.Path();
    const struct stat& info = disk.Identity();
    if (disk.IsImageFile()) {
        // A loop device over the image, mounted, would see the image change under it.
        const auto mounts = CurrentMounts(LoopDevicesOver(info, sysfsRoot));
        if (!mounts.empty())
            throw Failure(path + " is mounted through a loop device at " + mounts.front().mountPoint +
                          "; unmount it first");
        return;
    }
    // Only a real block device's number may pick mounts to unmount.
    if (!S_ISBLK(info.st_mode))
        throw Failure(path + " is not a block device");
    const std::vector<dev_t> devices = platform::DiskAndPartitions(info.st_rdev, sysfsRoot);
    for (const MountedVolume& mount : CurrentMounts(devices))
        if (umount2(mount.mountPoint.c_str(), 0) != 0 && errno != EINVAL)
            throw Failure(path + " is mounted at " + mount.mountPoint + " and cannot be unmounted (" +
                          std::strerror(errno) + "); close the programs that use it");
    const auto left = CurrentMounts(devices);
    if (!left.empty())
        throw Failure(path + " is still mounted at " + left.front().mountPoint);
}

} // namespace vornel::fbinst
