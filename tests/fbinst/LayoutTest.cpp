// Partition plans, the sfdisk script and the MBR's CHS and table fields.

#include "Layout.h"
#include "Failure.h"

#include <array>
#include <gtest/gtest.h>

namespace vornel::fbinst {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t k256MiBSectors = 256 * kMiBSectors;

TEST(FbinstLayout, AlignedUsbHdd) {
    const BootLayout layout =
        PlanBootLayout({Mode::Hdd, true, 8 * kMiB, 100 * kMiB}, k256MiBSectors, 300 * 1024);
    EXPECT_EQ(layout.bootArea.slot, 2);
    EXPECT_EQ(layout.bootArea.start, 16384u);
    EXPECT_EQ(layout.bootArea.sectors, 204800u);
    EXPECT_EQ(layout.bootArea.type, kTypeHiddenFat16Lba);
    EXPECT_TRUE(layout.bootArea.active);
    EXPECT_EQ(layout.data.slot, 1);
    EXPECT_EQ(layout.data.start, 16384u + 204800u);
    EXPECT_EQ(layout.data.End(), k256MiBSectors);
    EXPECT_EQ(layout.data.type, kTypeFat32Lba);
    EXPECT_FALSE(layout.data.active);
}

TEST(FbinstLayout, ZipModeUsesSlotFourAndUnalignedSizesAreRoundedUpWithAlign) {
    const BootLayout layout =
        PlanBootLayout({Mode::Zip, true, 8 * kMiB + 512, 100 * kMiB + 512}, k256MiBSectors, 0);
    EXPECT_EQ(layout.data.slot, 4);
    EXPECT_EQ(layout.bootArea.start, 16384u + 2048u);
    EXPECT_EQ(layout.data.start % kMiBSectors, 0u);
    EXPECT_GE(layout.data.start, layout.bootArea.End());
}

TEST(FbinstLayout, WithoutAlignTheAreasFollowEachOther) {
    const BootLayout layout = PlanBootLayout({Mode::Hdd, false, 100 * 512, 10 * kMiB}, k256MiBSectors, 0);
    EXPECT_EQ(layout.bootArea.start, 100u);
    EXPECT_EQ(layout.data.start, 100u + 20480u);
}

TEST(FbinstLayout, BootAreaBecomesFat32FromHalfAGibibyte) {
    EXPECT_EQ(PlanBootLayout({Mode::Hdd, true, kMiB, 511 * kMiB}, 4 * k256MiBSectors, 0).bootAreaFat,
              FatKind::Fat16);
    const BootLayout big = PlanBootLayout({Mode::Hdd, true, kMiB, 512 * kMiB}, 4 * k256MiBSectors, 0);
    EXPECT_EQ(big.bootAreaFat, FatKind::Fat32);
    EXPECT_EQ(big.bootArea.type, kTypeHiddenFat32Lba);
}

TEST(FbinstLayout, RefusesWhatDoesNotFit) {
    // Areas larger than the drive, or leaving too little for a FAT32 data partition.
    EXPECT_THROW(PlanBootLayout({Mode::Hdd, true, 8 * kMiB, 710 * kMiB}, k256MiBSectors, 0), Failure);
    EXPECT_THROW(PlanBootLayout({Mode::Hdd, true, 8 * kMiB, 220 * kMiB}, k256MiBSectors, 0), Failure);
    EXPECT_NO_THROW(PlanBootLayout({Mode::Hdd, true, 8 * kMiB, 214 * kMiB}, k256MiBSectors, 0));
    // A boot area too small for a FAT.
    EXPECT_THROW(PlanBootLayout({Mode::Hdd, true, 8 * kMiB, 3 * kMiB}, k256MiBSectors, 0), Failure);
    // A core that does not fit between the MBR and the boot area.
    EXPECT_THROW(PlanBootLayout({Mode::Hdd, false, 64 * 512, 10 * kMiB}, k256MiBSectors, 63 * 512 + 1),
                 Failure);
    EXPECT_NO_THROW(PlanBootLayout({Mode::Hdd, false, 64 * 512, 10 * kMiB}, k256MiBSectors, 63 * 512));
    // Sizes that are not whole sectors.
    EXPECT_THROW(PlanBootLayout({Mode::Hdd, true, 8 * kMiB + 1, 10 * kMiB}, k256MiBSectors, 0), Failure);
}

TEST(FbinstLayout, ImagePartitionsFollowTheBootAreaInTheSlotsTheModeLeavesFree) {
    // Between the boot area and the data partition, which gives up exactly their room; with -a
    // each is a whole number of MiB.
    BootRequest request{Mode::Hdd, true, 8 * kMiB, 100 * kMiB, {30 * kMiB, 20 * kMiB + 512}};
    const BootLayout hdd = PlanBootLayout(request, k256MiBSectors, 0);
    ASSERT_EQ(hdd.images.size(), 2u);
    EXPECT_EQ(hdd.images[0].slot, 3);
    EXPECT_EQ(hdd.images[0].start, 16384u + 204800u);
    EXPECT_EQ(hdd.images[0].sectors, 30 * kMiBSectors);
    EXPECT_EQ(hdd.images[0].type, kTypeImagePartition);
    EXPECT_FALSE(hdd.images[0].active);
    EXPECT_EQ(hdd.images[1].slot, 4);
    EXPECT_EQ(hdd.images[1].start, hdd.images[0].End());
    EXPECT_EQ(hdd.images[1].sectors, 21 * kMiBSectors);
    EXPECT_EQ(hdd.data.slot, 1);
    EXPECT_EQ(hdd.data.start, hdd.images[1].End());
    EXPECT_EQ(hdd.data.End(), k256MiBSectors);
    request.mode = Mode::Zip;
    const BootLayout zip = PlanBootLayout(request, k256MiBSectors, 0);
    EXPECT_EQ(zip.images[0].slot, 1);
    EXPECT_EQ(zip.images[1].slot, 3);
    EXPECT_EQ(zip.data.slot, 4);
    // Without -a the sectors asked for, one after the other.
    request.align = false;
    EXPECT_EQ(PlanBootLayout(request, k256MiBSectors, 0).data.start, 16384u + 204800u + 61440u + 40961u);

    // Leaving less than the smallest data partition, too large to add up, or a third.
    request.imagePartitionBytes = {100 * kMiB};
    EXPECT_NO_THROW(PlanBootLayout(request, k256MiBSectors - 14 * kMiBSectors, 0));
    EXPECT_THROW(PlanBootLayout(request, k256MiBSectors - 15 * kMiBSectors, 0), Failure);
    request.imagePartitionBytes = {~std::uint64_t{0} / 512 * 512, 512};
    EXPECT_THROW(PlanBootLayout(request, k256MiBSectors, 0), Failure);
    request.imagePartitionBytes = {kMiB, kMiB, kMiB};
    EXPECT_THROW(PlanBootLayout(request, k256MiBSectors, 0), Failure);
    request.imagePartitionBytes = {kMiB + 1};
    EXPECT_THROW(PlanBootLayout(request, k256MiBSectors, 0), Failure);
}

TEST(FbinstLayout, DataPartitionStopsAtTheMbrLimitOnHugeDrives) {
    const std::uint64_t fourTiB = 8ull << 30;
    const BootLayout layout = PlanBootLayout({Mode::Hdd, true, 8 * kMiB, 710 * kMiB}, fourTiB, 0);
    EXPECT_EQ(layout.data.End(), 0xFFFFFFFFull);
    EXPECT_EQ(PlanRestoreLayout(fourTiB).End(), 0xFFFFFFFFull);
}

TEST(FbinstLayout, RestoreIsOneFat32PartitionFromOneMebibyte) {
    const Partition p = PlanRestoreLayout(k256MiBSectors);
    EXPECT_EQ(p.slot, 1);
    EXPECT_EQ(p.start, 2048u);
    EXPECT_EQ(p.End(), k256MiBSectors);
    EXPECT_EQ(p.type, kTypeFat32Lba);
    EXPECT_FALSE(p.active);
    EXPECT_THROW(PlanRestoreLayout(30 * kMiBSectors), Failure);
}

TEST(FbinstLayout, SfdiskScriptNamesSlots) {
    const std::string script =
        SfdiskScript("/img/a.img", {{2, 16384, 2048, 0x1e, true}, {4, 18432, 4096, 0x0c, false}});
    EXPECT_NE(script.find("/img/a.img2 : start=16384, size=2048, type=1e, bootable\n"), std::string::npos);
    EXPECT_NE(script.find("/img/a.img4 : start=18432, size=4096, type=c\n"), std::string::npos);
    EXPECT_NE(SfdiskScript("/dev/mmcblk0", {{1, 2048, 2048, 0x0c, false}}).find("/dev/mmcblk0p1 :"),
              std::string::npos);
}

TEST(FbinstLayout, ChsInZipAndHddGeometry) {
    // ZIP: 64 heads x 32 sectors, a cylinder is exactly one MiB.
    EXPECT_EQ(ChsAddress(16384, kZipGeometry), (std::array<std::uint8_t, 3>{0, 1, 8}));
    EXPECT_EQ(ChsAddress(16384 + 2047, kZipGeometry), (std::array<std::uint8_t, 3>{63, 32, 8}));
    // Cylinder 300 = 0x12C: its high bits go to the sector byte.
    EXPECT_EQ(ChsAddress(300 * 2048, kZipGeometry), (std::array<std::uint8_t, 3>{0, 1 | 0x40, 0x2C}));
    EXPECT_EQ(ChsAddress(2048, kHddGeometry), (std::array<std::uint8_t, 3>{32, 33, 0}));
    // Past cylinder 1023 the largest address.
    EXPECT_EQ(ChsAddress(1024ull * 2048, kZipGeometry), (std::array<std::uint8_t, 3>{63, 32 | 0xC0, 0xFF}));
}

TEST(FbinstLayout, TableReadBackAfterChsRewrite) {
    std::array<std::uint8_t, kSectorBytes> mbr{};
    EXPECT_TRUE(ReadPartitionTable(mbr).empty()); // no 55 AA
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    std::uint8_t* slot2 = mbr.data() + 446 + 16;
    slot2[0] = 0x80;
    slot2[4] = 0x1e;
    slot2[8] = 0x00, slot2[9] = 0x40;   // start 16384
    slot2[12] = 0x00, slot2[13] = 0x08; // 2048 sectors
    RewriteChs(mbr, kZipGeometry);
    const auto table = ReadPartitionTable(mbr);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].slot, 2);
    EXPECT_EQ(table[0].start, 16384u);
    EXPECT_EQ(table[0].sectors, 2048u);
    EXPECT_TRUE(table[0].active);
    EXPECT_EQ(slot2[1], 0); // first head
    EXPECT_EQ(slot2[2], 1); // first sector
    EXPECT_EQ(slot2[3], 8); // first cylinder
    EXPECT_EQ(slot2[5], 63);
    EXPECT_EQ(slot2[6], 32);
    EXPECT_EQ(slot2[7], 8);
    // Unused slots keep zero CHS fields.
    EXPECT_EQ(mbr[446 + 1], 0);
}

} // namespace
} // namespace vornel::fbinst

namespace vornel::fbinst {
namespace {

TEST(FbinstLayout, Fat16ClustersStayInRangeForEveryBootAreaSize) {
    for (std::uint64_t sectors = kMinBootAreaSectors; sectors < kFat32BootAreaFrom; sectors += 977) {
        const unsigned perCluster = Fat16SectorsPerCluster(sectors);
        // Clusters left after at most 2 FATs of 256 sectors, a root folder and a reserved sector.
        const std::uint64_t clusters = (sectors - 600) / perCluster;
        EXPECT_GE(clusters, 4085u) << sectors;
        EXPECT_LE(sectors / perCluster, 65524u) << sectors;
    }
}

} // namespace
} // namespace vornel::fbinst
