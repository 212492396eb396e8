#include "platform/LinuxDrivesSystem.h"

#include "platform/MountInfo.h"
#include "platform/Sysfs.h"

namespace vornel::platform {

namespace {

constexpr int kMaxStackDepth = 8;

// The device folder, or any device stacked on it through its holders, is a system device.
bool IsOrCarriesSystemDevice(const std::string& sysfsRoot, const std::string& folder,
                             const std::set<std::string>& systemDevices, int depth) {
    if (std::optional<std::string> device = ReadTrimmedFile(folder + "/dev");
        device && systemDevices.count(*device))
        return true;
    if (depth >= kMaxStackDepth)
        return false;
    for (const std::string& holder : FolderEntries(folder + "/holders")) {
        if (IsOrCarriesSystemDevice(sysfsRoot, BlockFolder(sysfsRoot, holder), systemDevices, depth + 1))
            return true;
    }
    return false;
}

} // namespace

std::set<std::string> SystemMountDevices(const std::string& mountInfoPath) {
    static const std::set<std::string> kSystemPlaces = {"/",    "/boot", "/boot/efi", "/efi",
                                                        "/usr", "/var",  "/home"};
    std::set<std::string> devices;
    for (const MountEntry& mount : ReadMountInfo(mountInfoPath)) {
        if (kSystemPlaces.count(mount.mountPoint))
            devices.insert(DeviceNumberText(mount.device));
    }
    return devices;
}

bool HoldsSystemMount(const std::string& sysfsRoot, const std::string& blockName,
                      const std::set<std::string>& systemDevices) {
    if (systemDevices.empty())
        return false;
    const std::string diskFolder = BlockFolder(sysfsRoot, blockName);
    if (IsOrCarriesSystemDevice(sysfsRoot, diskFolder, systemDevices, 0))
        return true;
    for (const SysfsPartition& partition : Partitions(diskFolder)) {
        if (IsOrCarriesSystemDevice(sysfsRoot, partition.folder, systemDevices, 0))
            return true;
    }
    return false;
}

} // namespace vornel::platform
