#include "drives/DriveList.h"

#include "drives/FakeDriveTree.h"

#include <gtest/gtest.h>

#include <map>

using namespace vornel::drives;
using vornel::platform::DeviceIdentity;
using vornel::testing::FakeDisk;
using vornel::testing::FakeDriveTree;
using vornel::testing::UsbStick;

namespace {

struct FakeDrive {
    bool removable = true;
    std::optional<std::string> label;
    std::optional<std::int64_t> bytes;
    std::optional<DeviceIdentity> identity;
};

class FakeQueries : public vornel::platform::DriveQueries {
  public:
    std::uint32_t LogicalDrives() override {
        std::uint32_t mask = 0;
        for (const auto& [letter, drive] : drives)
            mask |= 1u << (letter - 'A');
        return mask;
    }
    bool IsRemovable(char letter) override { return drives.at(letter).removable; }
    std::optional<std::string> VolumeLabel(char letter) override { return drives.at(letter).label; }
    std::optional<std::int64_t> TotalBytes(char letter) override { return drives.at(letter).bytes; }
    std::optional<DeviceIdentity> Identity(char letter) override { return drives.at(letter).identity; }
    std::map<char, FakeDrive> drives;
};

FakeDrive Stick() {
    return {true, "MYDISK", 8000000000, DeviceIdentity{"Generic", "Flash Disk"}};
}

std::vector<TUsbDiskInfo> Disks(std::string_view letters) {
    std::vector<TUsbDiskInfo> disks;
    for (char letter : letters)
        disks.push_back({std::string(1, letter) + ":\\", "L", "M", 1024});
    return disks;
}

std::vector<std::string> Lines(std::string_view letters) {
    return RebuildDriveList({}, -1, Disks(letters)).items;
}

const std::string kPrompt(kInsertDiskPrompt);

} // namespace

TEST(ScanUsbDisks, RemovableDrivesInLetterOrderWithWhatTheirQueriesGave) {
    FakeQueries queries;
    queries.drives['G'] = Stick();
    queries.drives['C'] = {false, "SYSTEM", 500000000000, DeviceIdentity{"ATA", "SSD"}};
    queries.drives['E'] = {true, std::nullopt, std::nullopt, std::nullopt};
    queries.drives['A'] = {true, std::string("FLOPPY\0junk", 11), 1474560, DeviceIdentity{"", ""}};

    std::vector<TUsbDiskInfo> disks = ScanUsbDisks(queries);
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks[0].RootPath, "A:\\");
    EXPECT_EQ(disks[0].VolumeLabel, "FLOPPY");
    EXPECT_EQ(disks[0].Model, " ");
    EXPECT_EQ(disks[1].RootPath, "E:\\");
    EXPECT_EQ(disks[1].VolumeLabel, "");
    EXPECT_EQ(disks[1].Model, "");
    EXPECT_EQ(disks[1].TotalSize, 0);
    EXPECT_EQ(disks[2].RootPath, "G:\\");
    EXPECT_EQ(disks[2].VolumeLabel, "MYDISK");
    EXPECT_EQ(disks[2].Model, "Generic Flash_Disk");
    EXPECT_EQ(disks[2].TotalSize, 8000000000);

    EXPECT_EQ(DriveLine(disks[2]), "G: (Generic Flash_Disk MYDISK 容量：7.45GB)");
    EXPECT_EQ(DriveLine(disks[1]), "E: (  容量：)");
    EXPECT_EQ(DriveLine(disks[0]), "A: (  FLOPPY 容量：1.41MB)");
}

TEST(RebuildDriveList, PlaceholderWhenNothingIsPresent) {
    for (int index : {-1, 0, 2}) {
        DriveListItems list = RebuildDriveList(Lines("EFG"), index, {});
        EXPECT_EQ(list.items, std::vector<std::string>{kPrompt});
        EXPECT_EQ(list.selectedIndex, 0);
    }
}

TEST(RebuildDriveList, SelectionCases) {
    struct Case {
        const char* what;
        std::string before; // letters; "" is the placeholder
        int index;
        std::string after;
        int expected;
    } cases[] = {
        {"first scan after the placeholder", "", 0, "EG", 0},
        {"nothing selected", "EG", -1, "EG", 0},
        {"a stick plugged in before the selected one keeps the selection on it", "EG", 1, "EFG", 2},
        {"a stick plugged in after the selected one", "EG", 0, "EFG", 0},
        {"the selected last line pulled out", "EFG", 2, "EF", 0},
        {"the selected middle line pulled out: the index stays", "EFG", 1, "EG", 1},
        {"another line pulled out", "EFG", 2, "FG", 1},
        {"an index past the old list", "EF", 5, "EF", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> before =
            c.before.empty() ? std::vector<std::string>{kPrompt} : Lines(c.before);
        DriveListItems list = RebuildDriveList(before, c.index, Disks(c.after));
        EXPECT_EQ(list.items, Lines(c.after));
        EXPECT_EQ(list.selectedIndex, c.expected);
    }
}

TEST(ScanDriveList, LinesOfRealQueriesOverAFakeSystem) {
    FakeDriveTree tree;
    FakeDisk stick = UsbStick("sdb", "8:16", 15625000); // 8,000,000,000 bytes
    stick.udevVendor = "Generic";
    stick.udevModel = "Flash_Disk";
    tree.Add(stick);
    FakeDriveTree::FormatFat(tree.DevNode("sdb"), "MYDISK");
    FakeDisk reader = UsbStick("sdh", "8:112", 0);
    reader.sysfsModel = "STORAGE DEVICE  ";
    tree.Add(reader);
    FakeDisk fixed = UsbStick("sda", "8:0");
    fixed.removableFlag = false;
    tree.Add(fixed);
    const std::string image = (tree.Root() / "a.img").string();
    FakeDriveTree::FormatFat(image, "IMG", 2048);

    auto queries = vornel::platform::CreateLinuxDriveQueries(tree.Sources("K=" + image));
    DriveListItems list = ScanDriveList(*queries, {kPrompt}, 0);
    EXPECT_EQ(list.items, (std::vector<std::string>{"B: (Generic Flash_Disk MYDISK 容量：7.45GB)",
                                                    "H: (Generic STORAGE_DEVICE  容量：)",
                                                    "K: (Vornel Virtual_Disk IMG 容量：2.00MB)"}));
    EXPECT_EQ(list.selectedIndex, 0);

    tree.Pull("sdb");
    tree.Pull("sdh");
    list = ScanDriveList(*queries, list.items, 1);
    EXPECT_EQ(list.items, std::vector<std::string>{"K: (Vornel Virtual_Disk IMG 容量：2.00MB)"});
    EXPECT_EQ(list.selectedIndex, 0);

    auto empty = vornel::platform::CreateLinuxDriveQueries(tree.Sources());
    EXPECT_EQ(ScanDriveList(*empty, list.items, 0).items, std::vector<std::string>{kPrompt});
}
