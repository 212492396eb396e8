#include "platform/LinuxDrivesSysfs.h"

#include "platform/ImageDrives.h"
#include "platform/LinuxDrivesSystem.h"
#include "platform/Sysfs.h"

#include <unistd.h>
#include <vector>

namespace vornel::platform {

namespace {

bool IsMmcDisk(std::string_view name) {
    return name.starts_with("mmcblk");
}

// The removable-medium class: a disk whose removable flag is set (sticks, card reader slots
// with or without a card). A USB hard disk that reports itself fixed stays out. SD cards in a
// built-in slot count too: the kernel never sets the flag for MMC disks, and soldered eMMC
// storage (type "MMC") is told apart by its card type.
bool IsRemovableDisk(const std::string& diskFolder, std::string_view name) {
    if (ReadTrimmedFile(diskFolder + "/removable") == "1")
        return true;
    return IsMmcDisk(name) && ReadTrimmedFile(diskFolder + "/device/type") == "SD";
}

} // namespace

const LetteredDisk* DriveLetterMap::Find(char letter) const {
    int index = DriveLetterIndex(letter);
    if (index < 0 || !byLetter_[index])
        return nullptr;
    return &*byLetter_[index];
}

std::uint32_t DriveLetterMap::LettersInUse() const {
    std::uint32_t mask = 0;
    for (int i = 0; i < 26; ++i) {
        if (byLetter_[i])
            mask |= 1u << i;
    }
    return mask;
}

void DriveLetterMap::Set(char letter, std::optional<LetteredDisk> disk) {
    int index = DriveLetterIndex(letter);
    if (index >= 0)
        byLetter_[index] = std::move(disk);
}

DriveLetterContext ReadDriveLetterContext(const LinuxDriveSources& sources) {
    DriveLetterContext context{ReadImageDrives(sources.imageDrives), SystemMountDevices(sources.mountInfo)};
    ReportImageDriveProblems(context.images.problems);
    return context;
}

std::optional<LetteredDisk> FindLetteredDisk(const LinuxDriveSources& sources,
                                             const DriveLetterContext& context, char letter) {
    const ImageDriveList& images = context.images;
    const int index = DriveLetterIndex(letter);
    if (index < 0)
        return std::nullopt;
    const char upper = static_cast<char>('A' + index);
    if (images.claimedLetters & (1u << index)) {
        for (const ImageDrive& image : images.drives) {
            if (image.letter == upper)
                return LetteredDisk{upper, image.path, true, true, {}};
        }
        return std::nullopt;
    }
    // The sd disk of the letter first; an MMC disk has the letter only when no sd disk does.
    std::vector<std::string> names = {std::string("sd") + static_cast<char>('a' + index)};
    names.push_back("mmcblk" + std::to_string('Z' - upper));
    for (const std::string& name : names) {
        const std::string folder = BlockFolder(sources.sysfsRoot, name);
        if (::access(folder.c_str(), F_OK) != 0)
            continue;
        const bool removable = IsRemovableDisk(folder, name) &&
                               !HoldsSystemMount(sources.sysfsRoot, name, context.systemDevices);
        return LetteredDisk{upper, sources.devRoot + "/" + name, false, removable, name};
    }
    return std::nullopt;
}

DriveLetterMap ReadDriveLetterMap(const LinuxDriveSources& sources, const DriveLetterContext& context) {
    DriveLetterMap map;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        map.Set(letter, FindLetteredDisk(sources, context, letter));
    return map;
}

} // namespace vornel::platform
