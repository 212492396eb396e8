#include "platform/LinuxDrivesSysfs.h"

#include "platform/ImageDrives.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace vornel::platform {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int LetterIndex(char letter) {
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a';
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A';
    return -1;
}

std::vector<std::string> ListBlockDisks(const std::string& blockFolder) {
    std::vector<std::string> names;
    DIR* folder = ::opendir(blockFolder.c_str());
    if (!folder)
        return names;
    while (dirent* entry = ::readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(folder);
    return names;
}

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
    int index = LetterIndex(letter);
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

void DriveLetterMap::Set(LetteredDisk disk) {
    int index = LetterIndex(disk.letter);
    if (index >= 0)
        byLetter_[index] = std::move(disk);
}

std::optional<std::string> ReadTrimmedFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::optional<char> NaturalLetter(std::string_view name) {
    if (name.size() == 3 && name.starts_with("sd") && name[2] >= 'a' && name[2] <= 'z')
        return static_cast<char>(name[2] - 'a' + 'A');
    if (IsMmcDisk(name)) {
        std::string_view number = name.substr(6);
        if (number.empty() || number.size() > 2 || (number.size() == 2 && number[0] == '0'))
            return std::nullopt;
        int n = 0;
        for (char digit : number) {
            if (digit < '0' || digit > '9')
                return std::nullopt;
            n = n * 10 + (digit - '0');
        }
        if (n <= 25)
            return static_cast<char>('Z' - n);
    }
    // Loop, ram, zram, device-mapper, md, optical, nbd, NVMe, virtio and the rest: no letter.
    return std::nullopt;
}

DriveLetterMap ReadDriveLetterMap(const LinuxDriveSources& sources) {
    ImageDriveList images = ReadImageDrives(sources.imageDrives);
    ReportImageDriveProblems(images.problems);

    const std::string blockFolder = sources.sysfsRoot + "/block";
    std::vector<std::string> sdDisks;
    std::vector<std::string> mmcDisks;
    std::uint32_t sdLetters = 0;
    for (const std::string& name : ListBlockDisks(blockFolder)) {
        std::optional<char> letter = NaturalLetter(name);
        // /sys/block lists whole disks only; a partition folder there would be a broken tree.
        if (!letter || ReadTrimmedFile(blockFolder + "/" + name + "/partition"))
            continue;
        if (IsMmcDisk(name)) {
            mmcDisks.push_back(name);
        } else {
            sdDisks.push_back(name);
            sdLetters |= 1u << (*letter - 'A');
        }
    }

    DriveLetterMap map;
    auto place = [&](const std::string& name) {
        char letter = *NaturalLetter(name);
        if (images.claimedLetters & (1u << (letter - 'A')))
            return;
        std::string folder = blockFolder + "/" + name;
        map.Set({letter, sources.devRoot + "/" + name, false, IsRemovableDisk(folder, name), name});
    };
    for (const std::string& name : sdDisks)
        place(name);
    for (const std::string& name : mmcDisks) {
        if (!(sdLetters & (1u << (*NaturalLetter(name) - 'A'))))
            place(name);
    }
    for (const ImageDrive& image : images.drives)
        map.Set({image.letter, image.path, true, true, {}});
    return map;
}

} // namespace vornel::platform
