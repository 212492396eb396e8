#pragma once
// The drive list of the main window: one line per removable drive in letter order, each line
// beginning with its drive letter, or the single placeholder line when there is none.

#include "platform/Drives.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::drives {

// One removable drive found by a scan. A query that failed leaves its field empty or 0.
struct TUsbDiskInfo {
    std::string RootPath; // "G:\"
    std::string VolumeLabel;
    std::string Model; // GetDiskModel: may be empty or a single space
    std::int64_t TotalSize = 0;
};

// The only line of the list when no removable drive is present.
inline constexpr std::string_view kInsertDiskPrompt = "请插入U盘！";

// The removable drives, in ascending letter order.
std::vector<TUsbDiskInfo> ScanUsbDisks(platform::DriveQueries& queries);

// "G: (Generic Flash_Disk MYDISK 容量：7.45GB)": letter, model, label, size text.
std::string DriveLine(const TUsbDiskInfo& disk);

struct DriveListItems {
    std::vector<std::string> items;
    int selectedIndex = 0;
};

// The new list for the scanned drives. The drive the user had selected stays selected while
// it is listed, wherever its line moves; when it is gone (or nothing was selected) the old
// index is kept if it is still in range, else the first line is selected.
DriveListItems RebuildDriveList(const std::vector<std::string>& currentItems, int currentIndex,
                                const std::vector<TUsbDiskInfo>& disks);

// Scan and rebuild in one call: what the main window does when it is shown and every 2 s.
DriveListItems ScanDriveList(platform::DriveQueries& queries, const std::vector<std::string>& currentItems,
                             int currentIndex);

} // namespace vornel::drives
