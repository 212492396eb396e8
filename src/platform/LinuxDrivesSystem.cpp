#include "platform/LinuxDrivesSystem.h"

#include "platform/Files.h"
#include "platform/LinuxDrivesSysfs.h"

#include <dirent.h>
#include <sstream>
#include <vector>

namespace vornel::platform {

namespace {

constexpr int kMaxStackDepth = 8;

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

// The device folder, or any device stacked on it through its holders, is a system device.
bool IsOrCarriesSystemDevice(const std::string& sysfsRoot, const std::string& folder,
                             const std::set<std::string>& systemDevices, int depth) {
    if (std::optional<std::string> device = ReadTrimmedFile(folder + "/dev");
        device && systemDevices.count(*device))
        return true;
    if (depth >= kMaxStackDepth)
        return false;
    for (const std::string& holder : FolderEntries(folder + "/holders")) {
        if (IsOrCarriesSystemDevice(sysfsRoot, sysfsRoot + "/block/" + holder, systemDevices, depth + 1))
            return true;
    }
    return false;
}

} // namespace

std::set<std::string> SystemMountDevices(const std::string& mountInfoPath) {
    static const std::set<std::string> kSystemPlaces = {"/",    "/boot", "/boot/efi", "/efi",
                                                        "/usr", "/var",  "/home"};
    std::set<std::string> devices;
    std::optional<std::string> text = ReadTrimmedFile(mountInfoPath);
    if (!text)
        return devices;
    for (const std::string& line : SplitLines(*text)) {
        // mount id, parent id, major:minor, root, mount point, ...
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (fields >> id >> parent >> device >> root >> mountPoint && kSystemPlaces.count(mountPoint))
            devices.insert(device);
    }
    return devices;
}

bool HoldsSystemMount(const std::string& sysfsRoot, const std::string& blockName,
                      const std::set<std::string>& systemDevices) {
    if (systemDevices.empty())
        return false;
    const std::string diskFolder = sysfsRoot + "/block/" + blockName;
    if (IsOrCarriesSystemDevice(sysfsRoot, diskFolder, systemDevices, 0))
        return true;
    for (const std::string& child : FolderEntries(diskFolder)) {
        const std::string folder = diskFolder + "/" + child;
        if (ReadTrimmedFile(folder + "/partition") &&
            IsOrCarriesSystemDevice(sysfsRoot, folder, systemDevices, 0))
            return true;
    }
    return false;
}

} // namespace vornel::platform
