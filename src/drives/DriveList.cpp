#include "drives/DriveList.h"

#include "drives/DiskModel.h"
#include "drives/DiskSize.h"

namespace vornel::drives {

namespace {

// A drive line's letter; 0 for the placeholder or anything else.
char LineLetter(std::string_view line) {
    if (line.size() < 2 || line[1] != ':' || line[0] < 'A' || line[0] > 'Z')
        return 0;
    return line[0];
}

} // namespace

std::vector<TUsbDiskInfo> ScanUsbDisks(platform::DriveQueries& queries) {
    std::vector<TUsbDiskInfo> disks;
    const std::uint32_t letters = queries.LogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if (!(letters & (1u << bit)))
            continue;
        const char letter = static_cast<char>('A' + bit);
        if (!queries.IsRemovable(letter))
            continue;
        TUsbDiskInfo disk;
        disk.RootPath = std::string(1, letter) + ":\\";
        // The label ends at its first NUL, as the text of a C buffer would.
        const std::string label = queries.VolumeLabel(letter).value_or("");
        disk.VolumeLabel = label.substr(0, label.find('\0'));
        disk.TotalSize = queries.TotalBytes(letter).value_or(0);
        disk.Model = GetDiskModel(queries, letter);
        disks.push_back(std::move(disk));
    }
    return disks;
}

std::string DriveLine(const TUsbDiskInfo& disk) {
    return disk.RootPath.substr(0, 1) + ": (" + disk.Model + " " + disk.VolumeLabel + " 容量：" +
           FormatDiskSize(disk.TotalSize) + ")";
}

DriveListItems RebuildDriveList(const std::vector<std::string>& currentItems, int currentIndex,
                                const std::vector<TUsbDiskInfo>& disks) {
    DriveListItems list;
    if (disks.empty()) {
        list.items.emplace_back(kInsertDiskPrompt);
        return list;
    }
    for (const TUsbDiskInfo& disk : disks)
        list.items.push_back(DriveLine(disk));

    const bool hadSelection = currentIndex >= 0 && currentIndex < static_cast<int>(currentItems.size());
    const char selectedLetter = hadSelection ? LineLetter(currentItems[currentIndex]) : 0;
    if (selectedLetter) {
        for (size_t i = 0; i < list.items.size(); ++i) {
            if (LineLetter(list.items[i]) == selectedLetter) {
                list.selectedIndex = static_cast<int>(i);
                return list;
            }
        }
    }
    if (currentIndex >= 0 && currentIndex < static_cast<int>(list.items.size()))
        list.selectedIndex = currentIndex;
    return list;
}

DriveListItems ScanDriveList(platform::DriveQueries& queries, const std::vector<std::string>& currentItems,
                             int currentIndex) {
    return RebuildDriveList(currentItems, currentIndex, ScanUsbDisks(queries));
}

} // namespace vornel::drives
