// Finding the mounted file systems of a drive and its partitions.

#include "Mounts.h"
#include "Failure.h"
#include "platform/Sysfs.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vornel::fbinst {
namespace {

namespace fs = std::filesystem;

TEST(FbinstMounts, PicksTheDrivesDevicesAndDecodesMountPoints) {
    const std::string info = "22 1 8:0 / / rw - ext4 /dev/sda rw\n"
                             "40 22 8:17 / /media/u/MY\\040STICK rw,nosuid - vfat /dev/sdb1 rw\n"
                             "41 22 8:18 / /media/u/BOOT rw - vfat /dev/sdb2 rw\n"
                             "42 22 8:160 / /media/other rw - vfat /dev/sdk rw\n"
                             "garbage line\n";
    const auto mounts = MountsOfDevices(info, {makedev(8, 16), makedev(8, 17), makedev(8, 18)});
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].mountPoint, "/media/u/MY STICK");
    EXPECT_EQ(mounts[0].device, makedev(8, 17));
    EXPECT_EQ(mounts[1].mountPoint, "/media/u/BOOT");
    EXPECT_TRUE(MountsOfDevices(info, {makedev(8, 32)}).empty());
}

TEST(FbinstMounts, PartitionsComeFromSysfs) {
    const fs::path root = fs::temp_directory_path() / ("fbinst-sysfs-" + std::to_string(getpid()));
    const fs::path disk = root / "dev/block/8:16";
    fs::create_directories(disk / "sdb1");
    fs::create_directories(disk / "sdb2");
    fs::create_directories(disk / "queue"); // a folder that is no partition
    std::ofstream(disk / "sdb1/partition") << "1\n";
    std::ofstream(disk / "sdb1/dev") << "8:17\n";
    std::ofstream(disk / "sdb2/partition") << "2\n";
    std::ofstream(disk / "sdb2/dev") << "8:18\n";
    std::ofstream(disk / "queue/dev") << "9:9\n";
    auto devices = platform::DiskAndPartitions(makedev(8, 16), root.string());
    std::sort(devices.begin(), devices.end());
    EXPECT_EQ(devices, (std::vector<dev_t>{makedev(8, 16), makedev(8, 17), makedev(8, 18)}));
    EXPECT_EQ(platform::DiskAndPartitions(makedev(8, 32), root.string()),
              (std::vector<dev_t>{makedev(8, 32)}));
    fs::remove_all(root);
}

TEST(FbinstMounts, ADeviceThatIsNoBlockDeviceIsRefusedBeforeAnyUnmount) {
    const fs::path file = fs::temp_directory_path() / ("fbinst-notblock-" + std::to_string(getpid()));
    std::ofstream(file) << std::string(512, 'x');
    EXPECT_THROW(Disk(file.string(), false, true, "/nonexistent"), Failure);
    const Disk image(file.string(), true);
    EXPECT_NO_THROW(EnsureNothingMounted(image, "/nonexistent"));
    fs::remove(file);
}

} // namespace
} // namespace vornel::fbinst
