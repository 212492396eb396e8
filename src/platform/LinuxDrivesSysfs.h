#pragma once
// Which disk each drive letter stands for on Linux, read from sysfs and the image drive list.
//
// Letters follow the kernel's names, so a letter stays with its device while it is plugged in:
//   /dev/sdX     -> X (sda to sdz; sdaa and later get no letter)
//   /dev/mmcblkN -> 'Z' - N (mmcblk0 is Z:, mmcblk1 is Y:, ... up to mmcblk25), unless some sd
//                   disk that is present holds that letter
//   an image file named in VORNEL_DRIVES -> its letter, hiding any disk that would have it
// Pulling a device never changes the letter of another one, and each letter is found by
// looking at no more than its own two candidate disks. Loop, ram, zram, device-mapper, md,
// optical, nbd, NVMe and virtio disks never get a letter.

#include "platform/Drives.h"
#include "platform/ImageDrives.h"

#include <array>
#include <optional>
#include <set>
#include <string>

namespace vornel::platform {

struct LetteredDisk {
    char letter = 0;
    std::string path; // the device node or the image file
    bool isImageFile = false;
    bool removable = false;
    std::string blockName; // the disk's name under /sys/block; empty for an image file
};

class DriveLetterMap {
  public:
    // nullptr when nothing holds the letter; lower case is accepted.
    const LetteredDisk* Find(char letter) const;
    std::uint32_t LettersInUse() const;
    void Set(char letter, std::optional<LetteredDisk> disk);

  private:
    std::array<std::optional<LetteredDisk>, 26> byLetter_;
};

// What the letters depend on besides /sys/block, read once for a look at one or all letters.
struct DriveLetterContext {
    ImageDriveList images;
    std::set<std::string> systemDevices; // see LinuxDrivesSystem.h
};

// Reads the context now; the image drive list's problems go to stderr, each once.
DriveLetterContext ReadDriveLetterContext(const LinuxDriveSources& sources);

// What holds the letter (either case) now, by the rule above; nullopt when nothing does.
// A disk the running system is mounted from is never removable.
std::optional<LetteredDisk> FindLetteredDisk(const LinuxDriveSources& sources,
                                             const DriveLetterContext& context, char letter);

// Every letter, read now.
DriveLetterMap ReadDriveLetterMap(const LinuxDriveSources& sources, const DriveLetterContext& context);

} // namespace vornel::platform
