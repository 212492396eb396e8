// The drive queries and the letter resolution over sysfs, udev data and image drives.

#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/ImageDrives.h"
#include "platform/LinuxDrivesLabel.h"
#include "platform/LinuxDrivesSysfs.h"
#include "platform/LinuxDrivesUdev.h"
#include "platform/Sysfs.h"

#include <cstdint>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::platform {

namespace {

constexpr std::int64_t kSectorBytes = 512;

std::string DiskFolder(const LinuxDriveSources& sources, const LetteredDisk& disk) {
    return BlockFolder(sources.sysfsRoot, disk.blockName);
}

std::optional<DeviceIdentity> BlockDiskIdentity(const LinuxDriveSources& sources, const LetteredDisk& disk) {
    const std::string folder = DiskFolder(sources, disk);
    if (std::optional<std::string> device = ReadTrimmedFile(folder + "/dev")) {
        std::optional<std::string> vendor = UdevProperty(sources, *device, "ID_VENDOR");
        std::optional<std::string> model = UdevProperty(sources, *device, "ID_MODEL");
        if (vendor || model)
            return DeviceIdentity{vendor.value_or(""), model.value_or("")};
    }
    std::optional<std::string> vendor = ReadTrimmedFile(folder + "/device/vendor");
    std::optional<std::string> model = ReadTrimmedFile(folder + "/device/model");
    if (!model)
        model = ReadTrimmedFile(folder + "/device/name"); // an MMC or SD card names itself here
    if (!vendor && !model)
        return std::nullopt;
    return DeviceIdentity{vendor.value_or(""), model.value_or("")};
}

std::optional<std::int64_t> BlockDiskBytes(const LinuxDriveSources& sources, const LetteredDisk& disk) {
    std::optional<std::string> text = ReadTrimmedFile(DiskFolder(sources, disk) + "/size");
    if (!text || text->empty() || text->size() > 18)
        return std::nullopt;
    std::int64_t sectors = 0;
    for (char digit : *text) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        sectors = sectors * 10 + (digit - '0');
    }
    if (sectors == 0 || sectors > INT64_MAX / kSectorBytes)
        return std::nullopt; // no medium, or nonsense
    return sectors * kSectorBytes;
}

class LinuxDriveQueries final : public DriveQueries {
  public:
    explicit LinuxDriveQueries(LinuxDriveSources sources) : sources_(std::move(sources)) {}

    std::uint32_t LogicalDrives() override {
        map_ = ReadDriveLetterMap(sources_, ReadDriveLetterContext(sources_));
        return map_.LettersInUse();
    }

    // The letter is looked up afresh: this is the question that decides whether a disk may be
    // written. The other queries use what the last LogicalDrives or IsRemovable found.
    bool IsRemovable(char letter) override {
        map_.Set(letter, FindLetteredDisk(sources_, ReadDriveLetterContext(sources_), letter));
        return RemovableDisk(letter) != nullptr;
    }

    std::optional<std::string> VolumeLabel(char letter) override {
        const LetteredDisk* disk = RemovableDisk(letter);
        if (!disk)
            return std::nullopt;
        // Without root the device node cannot be opened; udev has read the label for us.
        std::optional<std::string> label = (!disk->isImageFile && ::access(disk->path.c_str(), R_OK) != 0)
                                               ? UdevVolumeLabel(sources_, disk->blockName)
                                               : ProbeVolumeLabel(disk->path);
        if (!label)
            return std::nullopt;
        return LabelAsUtf8(*label);
    }

    std::optional<std::int64_t> TotalBytes(char letter) override {
        const LetteredDisk* disk = RemovableDisk(letter);
        if (!disk)
            return std::nullopt;
        if (disk->isImageFile) {
            std::optional<std::int64_t> length = FileLength(disk->path);
            if (!length || *length == 0)
                return std::nullopt;
            return length;
        }
        return BlockDiskBytes(sources_, *disk);
    }

    std::optional<DeviceIdentity> Identity(char letter) override {
        const LetteredDisk* disk = RemovableDisk(letter);
        if (!disk)
            return std::nullopt;
        if (disk->isImageFile)
            return DeviceIdentity{"Vornel", "Virtual Disk"};
        return BlockDiskIdentity(sources_, *disk);
    }

    std::optional<std::string> DevicePath(char letter) override {
        const LetteredDisk* disk = RemovableDisk(letter);
        return disk ? std::optional<std::string>(disk->path) : std::nullopt;
    }

  private:
    // Within one scan the letters come from the map read by LogicalDrives or IsRemovable.
    const LetteredDisk* RemovableDisk(char letter) const {
        const LetteredDisk* disk = map_.Find(letter);
        return disk && disk->removable ? disk : nullptr;
    }

    LinuxDriveSources sources_;
    DriveLetterMap map_;
};

} // namespace

LinuxDriveSources SystemDriveSources() {
    LinuxDriveSources sources;
    if (const char* images = std::getenv("VORNEL_DRIVES"))
        sources.imageDrives = images;
    return sources;
}

std::unique_ptr<DriveQueries> CreateLinuxDriveQueries(const LinuxDriveSources& sources) {
    return std::make_unique<LinuxDriveQueries>(sources);
}

std::optional<DriveTarget> ResolveRemovableDrive(char letter, const LinuxDriveSources& sources,
                                                 std::string& error) {
    const int index = DriveLetterIndex(letter);
    if (index < 0) {
        const bool printable = letter > ' ' && letter < 127;
        error = (printable ? "\"" + std::string(1, letter) + "\""
                           : "The character " + std::to_string(static_cast<unsigned char>(letter))) +
                " is not a drive letter.";
        return std::nullopt;
    }
    const char upper = static_cast<char>('A' + index);
    const std::string name = std::string(1, upper) + ":";
    const DriveLetterContext context = ReadDriveLetterContext(sources);
    const std::optional<LetteredDisk> disk = FindLetteredDisk(sources, context, upper);
    if (!disk && (context.images.claimedLetters & (1u << index))) {
        error = "The VORNEL_DRIVES entry for drive " + name + " cannot be used.";
        return std::nullopt;
    }
    if (!disk) {
        error = "There is no drive " + name + ".";
        return std::nullopt;
    }
    if (!disk->removable) {
        error = "Drive " + name + " (" + disk->path + ") is not a removable drive.";
        return std::nullopt;
    }
    struct stat st {};
    if (::stat(disk->path.c_str(), &st) != 0) {
        error = "Drive " + name + ": " + disk->path + " does not exist.";
        return std::nullopt;
    }
    return DriveTarget{upper, disk->path, disk->isImageFile};
}

} // namespace vornel::platform
