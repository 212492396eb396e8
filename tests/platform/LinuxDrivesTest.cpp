#include "platform/Drives.h"
#include "platform/LinuxDrivesLabel.h"

#include "drives/FakeDriveTree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace vornel::platform;
using ::testing::HasSubstr;
using vornel::testing::FakeDisk;
using vornel::testing::FakeDriveTree;
using vornel::testing::UsbStick;

namespace {

constexpr std::uint32_t Bit(char letter) {
    return 1u << (letter - 'A');
}

FakeDisk FixedSata() {
    FakeDisk disk;
    disk.name = "sda";
    disk.removableFlag = false;
    disk.onUsb = false;
    disk.sectors = 976773168;
    disk.device = "8:0";
    disk.sysfsVendor = "ATA     ";
    disk.sysfsModel = "Samsung SSD";
    return disk;
}

FakeDisk UsbHardDiskReportingFixed() {
    FakeDisk disk = UsbStick("sdc", "8:32", 1953525168);
    disk.removableFlag = false;
    return disk;
}

FakeDisk EmptyCardReader() {
    FakeDisk disk = UsbStick("sdd", "8:48", 0);
    disk.sysfsVendor = "Generic ";
    disk.sysfsModel = "STORAGE DEVICE  ";
    return disk;
}

FakeDisk SdCard(const std::string& name, const std::string& type) {
    FakeDisk disk;
    disk.name = name;
    disk.removableFlag = false; // the kernel never sets it for MMC disks
    disk.onUsb = false;
    disk.sectors = 62333952;
    disk.device = "179:0";
    disk.cardType = type;
    disk.sysfsModel = "SD64G";
    return disk;
}

class LinuxDrivesTest : public ::testing::Test {
  protected:
    std::unique_ptr<DriveQueries> Queries(const std::string& images = "") {
        return CreateLinuxDriveQueries(tree.Sources(images));
    }
    std::string ResolveError(char letter, const std::string& images = "") {
        std::string error;
        EXPECT_FALSE(ResolveRemovableDrive(letter, tree.Sources(images), error).has_value());
        return error;
    }
    // The resolved path, or the refusal when there is none.
    std::string ResolvedPath(char letter, const std::string& images = "") {
        std::string error;
        auto target = ResolveRemovableDrive(letter, tree.Sources(images), error);
        return target ? target->path : error;
    }
    FakeDriveTree tree;
};

} // namespace

TEST_F(LinuxDrivesTest, UsbStickIsARemovableDriveOnItsKernelLetter) {
    FakeDisk stick = UsbStick("sdb", "8:16", 15625000);
    stick.udevVendor = "Generic";
    stick.udevModel = "Flash_Disk";
    tree.Add(stick);
    auto queries = Queries();
    EXPECT_EQ(queries->LogicalDrives(), Bit('B'));
    EXPECT_TRUE(queries->IsRemovable('B'));
    EXPECT_EQ(queries->TotalBytes('B'), 15625000LL * 512);
    auto identity = queries->Identity('B');
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->vendor, "Generic");
    EXPECT_EQ(identity->product, "Flash_Disk");

    std::string error;
    auto target = ResolveRemovableDrive('b', tree.Sources(), error);
    ASSERT_TRUE(target) << error;
    EXPECT_EQ(target->letter, 'B');
    EXPECT_EQ(target->path, tree.DevNode("sdb"));
    EXPECT_FALSE(target->isImageFile);
}

TEST_F(LinuxDrivesTest, FixedDisksAreInUseButNeverRemovableNorResolved) {
    tree.Add(FixedSata());
    tree.Add(UsbHardDiskReportingFixed());
    auto queries = Queries();
    EXPECT_EQ(queries->LogicalDrives(), Bit('A') | Bit('C'));
    for (char letter : {'A', 'C'}) {
        EXPECT_FALSE(queries->IsRemovable(letter));
        EXPECT_FALSE(queries->TotalBytes(letter));
        EXPECT_FALSE(queries->Identity(letter));
        EXPECT_FALSE(queries->VolumeLabel(letter));
    }
    EXPECT_THAT(ResolveError('A'), HasSubstr("not a removable drive"));
    EXPECT_THAT(ResolveError('C'), HasSubstr("not a removable drive"));
}

TEST_F(LinuxDrivesTest, VirtualOpticalAndOddDisksGetNoLetter) {
    for (std::string name : {"loop0", "ram0", "zram0", "dm-0", "md0", "sr0", "nbd0", "nvme0n1", "vda", "sdaa",
                             "mmcblk26", "mmcblk01", "mmcblk"}) {
        FakeDisk disk = UsbStick(name, "7:0");
        tree.Add(disk);
    }
    EXPECT_EQ(Queries()->LogicalDrives(), 0u);
    EXPECT_THAT(ResolveError('Z'), HasSubstr("There is no drive Z:"));
}

TEST_F(LinuxDrivesTest, CardReaderWithoutMediumIsListedWithoutLabelOrSize) {
    tree.Add(EmptyCardReader());
    auto queries = Queries();
    EXPECT_EQ(queries->LogicalDrives(), Bit('D'));
    EXPECT_TRUE(queries->IsRemovable('D'));
    EXPECT_FALSE(queries->TotalBytes('D'));
    EXPECT_FALSE(queries->VolumeLabel('D'));
    auto identity = queries->Identity('D');
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->vendor, "Generic");
    EXPECT_EQ(identity->product, "STORAGE DEVICE");
}

TEST_F(LinuxDrivesTest, SeveralSticksAndLettersStayWhenAnotherIsPulled) {
    tree.Add(FixedSata());
    tree.Add(UsbStick("sdg", "8:96"));
    tree.Add(UsbStick("sdb", "8:16"));
    tree.Add(UsbStick("sde", "8:64"));
    tree.Add(SdCard("mmcblk0", "SD"));
    auto queries = Queries();
    EXPECT_EQ(queries->LogicalDrives(), Bit('A') | Bit('B') | Bit('E') | Bit('G') | Bit('Z'));

    tree.Pull("sde");
    EXPECT_EQ(queries->LogicalDrives(), Bit('A') | Bit('B') | Bit('G') | Bit('Z'));
    EXPECT_EQ(ResolvedPath('G'), tree.DevNode("sdg"));
    EXPECT_EQ(ResolvedPath('Z'), tree.DevNode("mmcblk0"));
    EXPECT_THAT(ResolveError('E'), HasSubstr("There is no drive E:"));
}

TEST_F(LinuxDrivesTest, MmcLettersCountDownFromZAndYieldToSdDisks) {
    tree.Add(SdCard("mmcblk0", "SD"));
    FakeDisk emmc = SdCard("mmcblk1", "MMC");
    emmc.device = "179:8";
    tree.Add(emmc);
    auto queries = Queries();
    EXPECT_EQ(queries->LogicalDrives(), Bit('Y') | Bit('Z'));
    EXPECT_TRUE(queries->IsRemovable('Z'));
    EXPECT_FALSE(queries->IsRemovable('Y')); // soldered storage, likely the system disk
    EXPECT_EQ(queries->Identity('Z').value_or(DeviceIdentity{}).product, "SD64G");

    tree.Add(UsbStick("sdz", "65:144"));
    EXPECT_EQ(ResolvedPath('Z'), tree.DevNode("sdz"));
}

TEST_F(LinuxDrivesTest, UdevDataWinsOverSysfsAndSysfsTextIsTrimmed) {
    FakeDisk withUdev = UsbStick("sdb", "8:16");
    withUdev.udevVendor = "Kingston";
    withUdev.udevModel = "DataTraveler_3.0";
    tree.Add(withUdev);
    tree.Add(UsbStick("sdc", "8:32"));
    FakeDisk anonymous = UsbStick("sdd", "8:48");
    anonymous.sysfsVendor.clear();
    anonymous.sysfsModel.clear();
    tree.Add(anonymous);
    auto queries = Queries();
    queries->LogicalDrives();
    EXPECT_EQ(queries->Identity('B')->vendor, "Kingston");
    EXPECT_EQ(queries->Identity('B')->product, "DataTraveler_3.0");
    EXPECT_EQ(queries->Identity('C')->vendor, "Generic");
    EXPECT_EQ(queries->Identity('C')->product, "Flash Disk");
    EXPECT_FALSE(queries->Identity('D'));
}

TEST_F(LinuxDrivesTest, LabelOfTheWholeDiskOrOfItsFirstPartition) {
    tree.Add(UsbStick("sdb", "8:16"));
    tree.Add(UsbStick("sdc", "8:32"));
    tree.Add(UsbStick("sdd", "8:48"));
    tree.Add(UsbStick("sde", "8:64"));
    FakeDriveTree::FormatFat(tree.DevNode("sdb"), "MYSTICK");
    FakeDriveTree::FormatPartitionedFat(tree.DevNode("sdc"), "PARTLBL");
    FakeDriveTree::FormatFat(tree.DevNode("sdd"), "");
    FakeDriveTree::Write(tree.DevNode("sde"), std::string(65536, '\0'));
    auto queries = Queries();
    queries->LogicalDrives();
    EXPECT_EQ(queries->VolumeLabel('B'), "MYSTICK");
    EXPECT_EQ(queries->VolumeLabel('C'), "PARTLBL");
    EXPECT_FALSE(queries->VolumeLabel('D'));
    EXPECT_FALSE(queries->VolumeLabel('E'));
}

TEST_F(LinuxDrivesTest, ImageDrivesAreRemovableAndTakeTheirLetterFromAnyDisk) {
    tree.Add(UsbStick("sdg", "8:96"));
    tree.Add(UsbStick("sdh", "8:112"));
    tree.Add(UsbStick("sdb", "8:16"));
    const std::string image = (tree.Root() / "stick.img").string();
    FakeDriveTree::FormatPartitionedFat(image, "IMGLABEL");
    const std::string images = "G=" + image + ";H=" + (tree.Root() / "missing.img").string();

    auto queries = Queries(images);
    ::testing::internal::CaptureStderr();
    // H: names a missing image, so neither it nor the real sdh is offered as H:.
    EXPECT_EQ(queries->LogicalDrives(), Bit('B') | Bit('G'));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("missing.img"));
    EXPECT_TRUE(queries->IsRemovable('G'));
    EXPECT_EQ(queries->VolumeLabel('G'), "IMGLABEL");
    EXPECT_EQ(queries->TotalBytes('G'), 4 * 1024 * 1024);
    EXPECT_EQ(queries->Identity('G')->vendor, "Vornel");
    EXPECT_EQ(queries->Identity('G')->product, "Virtual Disk");

    std::string error;
    auto target = ResolveRemovableDrive('G', tree.Sources(images), error);
    ASSERT_TRUE(target) << error;
    EXPECT_EQ(target->path, image);
    EXPECT_TRUE(target->isImageFile);
    EXPECT_THAT(ResolveError('H', images), HasSubstr("VORNEL_DRIVES entry for drive H: cannot be used"));
}

TEST_F(LinuxDrivesTest, ResolutionRefusesWhatIsNotADriveLetter) {
    EXPECT_THAT(ResolveError('1'), HasSubstr("not a drive letter"));
    EXPECT_THAT(ResolveError('\0'), HasSubstr("The character 0 is not a drive letter"));
    tree.Add(UsbStick("sdb", "8:16"));
    tree.Pull("sdb");
    EXPECT_THAT(ResolveError('B'), HasSubstr("There is no drive B:"));
}

TEST_F(LinuxDrivesTest, WithoutAccessToTheDeviceTheLabelComesFromUdev) {
    tree.Add(UsbStick("sdb", "8:16"));
    tree.AddPartition("sdb", "sdb2", 2, "8:18", "E:ID_FS_LABEL=SECOND\n");
    tree.AddPartition("sdb", "sdb1", 1, "8:17",
                      "E:ID_FS_LABEL=My_Stick\nE:ID_FS_LABEL_ENC=My\\x20Stick\\x2\n");
    FakeDisk whole = UsbStick("sdc", "8:32");
    tree.Add(whole);
    FakeDriveTree::Write(tree.Root() / "udev/b8:32", "E:ID_FS_TYPE=vfat\nE:ID_FS_LABEL=WHOLE\n");
    tree.Add(UsbStick("sdd", "8:48"));
    for (const char* name : {"sdb", "sdc", "sdd"})
        std::filesystem::remove(tree.DevNode(name));

    auto queries = Queries();
    queries->LogicalDrives();
    EXPECT_EQ(queries->VolumeLabel('B'), "My Stick\\x2");
    EXPECT_EQ(queries->VolumeLabel('C'), "WHOLE");
    EXPECT_FALSE(queries->VolumeLabel('D'));
}

TEST_F(LinuxDrivesTest, DisksTheSystemIsMountedFromAreNeverRemovable) {
    tree.Add(UsbStick("sdb", "8:16")); // booted from: root on its first partition
    tree.AddPartition("sdb", "sdb1", 1, "8:17");
    tree.Add(UsbStick("sdc", "8:32")); // /home on an encrypted volume on its second partition
    tree.AddPartition("sdc", "sdc2", 2, "8:34");
    tree.AddHolder("sdc/sdc2", "dm-0", "254:0");
    tree.Add(UsbStick("sdd", "8:48")); // an ordinary stick the desktop mounted
    tree.AddPartition("sdd", "sdd1", 1, "8:49");
    tree.Add(SdCard("mmcblk0", "SD")); // /boot on the whole card
    tree.Mount("8:17", "/");
    tree.Mount("254:0", "/home");
    tree.Mount("8:49", "/media/user/STICK");
    tree.Mount("179:0", "/boot");
    tree.Mount("0:22", "/proc");

    auto queries = Queries();
    EXPECT_EQ(queries->LogicalDrives(), Bit('B') | Bit('C') | Bit('D') | Bit('Z'));
    EXPECT_FALSE(queries->IsRemovable('B'));
    EXPECT_FALSE(queries->IsRemovable('C'));
    EXPECT_TRUE(queries->IsRemovable('D'));
    EXPECT_FALSE(queries->IsRemovable('Z'));
    EXPECT_THAT(ResolveError('B'), HasSubstr("not a removable drive"));
    EXPECT_EQ(ResolvedPath('D'), tree.DevNode("sdd"));
}

TEST(LabelAsUtf8, Utf8StaysAndCodePage936IsConverted) {
    EXPECT_EQ(LabelAsUtf8("MYDISK"), "MYDISK");
    EXPECT_EQ(LabelAsUtf8("测试"), "测试");
    EXPECT_EQ(LabelAsUtf8("\xB2\xE2\xCA\xD4"), "测试");
    EXPECT_EQ(LabelAsUtf8("A\xB2\xE2\xFF"), "A测?");
    EXPECT_EQ(LabelAsUtf8("AB\xB2"), "AB?"); // cut inside a character
    EXPECT_EQ(LabelAsUtf8(""), "");
}

TEST_F(LinuxDrivesTest, ALabelWrittenInCodePage936ReadsAsUtf8) {
    tree.Add(UsbStick("sdb", "8:16"));
    FakeDriveTree::FormatFat(tree.DevNode("sdb"), "ABCDEFGH");
    // The label sits in the boot sector and in the root folder's volume entry.
    for (std::streamoff offset : {43, 2560}) {
        std::fstream image(tree.DevNode("sdb"), std::ios::in | std::ios::out | std::ios::binary);
        image.seekp(offset);
        image.write("\xB2\xE2\xCA\xD4       ", 11);
    }
    tree.Add(UsbStick("sdc", "8:32"));
    std::filesystem::remove(tree.DevNode("sdc"));
    FakeDriveTree::Write(tree.Root() / "udev/b8:32", "E:ID_FS_LABEL_ENC=\\xb2\\xe2\\xca\\xd4\n");

    auto queries = Queries();
    queries->LogicalDrives();
    EXPECT_EQ(queries->VolumeLabel('B'), "测试");
    EXPECT_EQ(queries->VolumeLabel('C'), "测试");
}
