#pragma once
// The drive queries the drive list asks of the system, and the one resolution of a drive letter
// to the disk behind it that the disk tool uses. Only removable drives are ever resolved.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vornel::platform {

// Vendor and product of the device, as the device reports them (trimmed, spaces kept).
struct DeviceIdentity {
    std::string vendor;
    std::string product;
};

// Each query may fail on its own. Letters are 'A' to 'Z'.
class DriveQueries {
  public:
    virtual ~DriveQueries() = default;
    // Bit i set: the letter 'A' + i is in use.
    virtual std::uint32_t LogicalDrives() = 0;
    // The removable-medium class: USB sticks, card reader slots (with or without a card).
    virtual bool IsRemovable(char letter) = 0;
    virtual std::optional<std::string> VolumeLabel(char letter) = 0;
    // The whole disk's size in bytes; fails without medium.
    virtual std::optional<std::int64_t> TotalBytes(char letter) = 0;
    virtual std::optional<DeviceIdentity> Identity(char letter) = 0;
    // The block device or image file behind the letter, for the operations' logs.
    virtual std::optional<std::string> DevicePath(char) { return std::nullopt; }
};

// What a removable letter stands for: a block device node or a disk image file.
struct DriveTarget {
    char letter = 0;
    std::string path;
    bool isImageFile = false;
};

// Where the Linux queries look; tests point them at fake trees.
struct LinuxDriveSources {
    std::string sysfsRoot = "/sys";
    std::string devRoot = "/dev";
    std::string udevDataRoot = "/run/udev/data";
    // "G=/path/a.img;H=/path/b.img": image files that count as removable drives.
    std::string imageDrives;
    // The mounts of the running system: a disk it is mounted from is never removable.
    std::string mountInfo = "/proc/self/mountinfo";
};

// The sources of this machine, image drives taken from $VORNEL_DRIVES.
LinuxDriveSources SystemDriveSources();

std::unique_ptr<DriveQueries> CreateLinuxDriveQueries(const LinuxDriveSources& sources);

// The letter's target when, and only when, the letter is in the removable set the drive list
// shows; otherwise nullopt and `error` says why.
std::optional<DriveTarget> ResolveRemovableDrive(char letter, const LinuxDriveSources& sources,
                                                 std::string& error);

} // namespace vornel::platform
