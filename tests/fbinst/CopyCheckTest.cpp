// The read-back after a copy: cluster runs, FAT geometry, and a copy that differs.

#include "CopyCheck.h"
#include "Failure.h"
#include "FatVolume.h"
#include "ImageChecks.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace vornel::fbinst::testing {
namespace {

// The check as add runs it: on the drive's medium.
void Check(const std::string& image, const CopyOnDrive& copy, const std::string& source) {
    const Disk disk(image, true, false);
    CheckCopy(DriveMedium(disk, false), copy, source);
}

// A 64 MiB image drive G: with a 16 MiB boot area starting at sector 16384.
std::string FormattedStick(const ScratchFolder& scratch) {
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 64 << 20);
    setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);
    if (RunFbinstExe({"G:", "format", "-f", "-a", "-p", "8m", "-e", "16m"}).exitCode != 0)
        throw std::runtime_error("cannot format the test stick");
    return image;
}

TEST(FbinstCopyCheck, ClusterRunsAsMshowfatPrintsThem) {
    const auto runs = ParseClusterRuns("::/big.iso <106644-153291> <5-84428> <7>\n");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].first, 106644u);
    EXPECT_EQ(runs[0].last, 153291u);
    EXPECT_EQ(runs[2].first, 7u);
    EXPECT_EQ(runs[2].last, 7u);
    EXPECT_TRUE(ParseClusterRuns("::/empty.txt \n").empty());
    EXPECT_THROW(ParseClusterRuns("::/x <9-3>"), Failure);
    EXPECT_THROW(ParseClusterRuns("::/x <1-3>"), Failure);
}

// mtools reads "@@" in "-i path@@offset" as the offset mark; it never sees the drive's own path.
TEST(FbinstCopyCheck, APathMtoolsWouldMisreadIsNoProblem) {
    ScratchFolder scratch;
    const std::string image = scratch.Path() + "/a@@1048576.img";
    MakeSparseImage(image, 64 << 20);
    setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);
    ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "8m", "-e", "16m"}).exitCode, 0);
    const std::string source = scratch.Path() + "/x.txt";
    WriteWholeFile(source, "x");
    ASSERT_EQ(RunFbinstExe({"G:", "add", "x.txt", source}).exitCode, 0);
    EXPECT_EQ(RunFbinstExe({"G:", "cat", "x.txt"}).out, "x");
}

TEST(FbinstCopyCheck, GeometryOfFat16AndFat32BootSectors) {
    std::array<std::uint8_t, 512> fat16{};
    fat16[11] = 0x00, fat16[12] = 0x02; // 512-byte sectors
    fat16[13] = 4;                      // per cluster
    fat16[14] = 4;                      // reserved
    fat16[16] = 2;                      // FATs
    fat16[17] = 0x00, fat16[18] = 0x02; // 512 root entries = 32 sectors
    fat16[22] = 40;                     // sectors per FAT
    const FatGeometry g16 = ParseFatGeometry(fat16);
    EXPECT_EQ(g16.clusterBytes, 2048u);
    EXPECT_EQ(g16.dataStartBytes, (4u + 80u + 32u) * 512u);

    std::array<std::uint8_t, 512> fat32 = fat16;
    fat32[17] = fat32[18] = 0;
    fat32[22] = 0;
    fat32[14] = 32;
    fat32[36] = 0xB0, fat32[37] = 0x04; // 1200 sectors per FAT
    EXPECT_EQ(ParseFatGeometry(fat32).dataStartBytes, (32u + 2400u) * 512u);

    std::array<std::uint8_t, 512> damaged = fat16;
    damaged[13] = 3;
    EXPECT_THROW(ParseFatGeometry(damaged), Failure);
    EXPECT_THROW(ParseFatGeometry({}), Failure);
}

TEST(FbinstCopyCheck, FindsAChangedByteAndAWrongLength) {
    ScratchFolder scratch;
    const std::string image = FormattedStick(scratch);
    std::string bytes(300000, 'a');
    bytes[123456] = 'b';
    const std::string source = scratch.Path() + "/src.bin";
    WriteWholeFile(source, bytes);
    ASSERT_EQ(RunFbinstExe({"G:", "add", "f.bin", source}).exitCode, 0);

    const std::uint64_t fatStart = 16384 * 512;
    const auto runs = ParseClusterRuns(
        RunProgram({"mshowfat", "-i", image + "@@" + std::to_string(fatStart), "::/f.bin"}).out);
    EXPECT_NO_THROW(Check(image, {"f.bin", fatStart, runs, bytes.size()}, source));
    EXPECT_THROW(Check(image, {"f.bin", fatStart, runs, bytes.size() + 100000}, source), Failure);
    // Change the one 'b' on the drive into 'a'.
    const std::string whole = ReadWholeFile(image);
    const std::size_t at = whole.find(bytes.substr(123000, 1000));
    ASSERT_NE(at, std::string::npos);
    std::string changed = whole;
    changed[at + 456] = 'a';
    WriteWholeFile(image, changed);
    try {
        Check(image, {"f.bin", fatStart, runs, bytes.size()}, source);
        ADD_FAILURE() << "a changed byte passed";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.ExitCode(), disktool::kExitCopyDiffers);
        EXPECT_NE(
            std::string(failure.what())
                .find("\"f.bin\" read back from the drive differs from \"" + source + "\" at byte 123456 "),
            std::string::npos)
            << failure.what();
    }
}

// A file put in the hole another file left behind lies in two runs; both are compared at their
// own place on the drive, in pieces that end in the middle of a run.
TEST(FbinstCopyCheck, AFileInTwoRunsIsComparedAtBothPlaces) {
    ScratchFolder scratch;
    const std::string image = FormattedStick(scratch);
    const std::string small = scratch.Path() + "/small.bin";
    WriteWholeFile(small, std::string(100000, 's'));
    ASSERT_EQ(RunFbinstExe({"G:", "add", "a.bin", small}).exitCode, 0);
    ASSERT_EQ(RunFbinstExe({"G:", "add", "b.bin", small}).exitCode, 0);
    const std::uint64_t fatStart = 16384 * 512;
    const std::string volume = image + "@@" + std::to_string(fatStart);
    ASSERT_EQ(RunProgram({"mdel", "-i", volume, "::/a.bin"}).exitCode, 0);

    std::string bytes(700000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 4096);
    const std::string source = scratch.Path() + "/c.bin";
    WriteWholeFile(source, bytes);
    ASSERT_EQ(RunFbinstExe({"G:", "add", "c.bin", source}).exitCode, 0);
    const auto runs = ParseClusterRuns(RunProgram({"mshowfat", "-i", volume, "::/c.bin"}).out);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_NO_THROW(Check(image, {"c.bin", fatStart, runs, bytes.size()}, source));

    // The last byte of the file lies in the second run.
    std::array<std::uint8_t, 512> bootSector{};
    {
        const Disk disk(image, true, false);
        disk.ReadAt(fatStart, bootSector);
    }
    const FatGeometry fat = ParseFatGeometry(bootSector);
    const std::uint64_t firstRunBytes = (runs[0].last - runs[0].first + 1) * fat.clusterBytes;
    const std::uint64_t lastByte = fatStart + fat.dataStartBytes + (runs[1].first - 2) * fat.clusterBytes +
                                   (bytes.size() - firstRunBytes) - 1;
    ASSERT_EQ(ReadBytes(image, lastByte, 1), bytes.substr(bytes.size() - 1));
    std::string whole = ReadWholeFile(image);
    whole[lastByte] = static_cast<char>(whole[lastByte] ^ 1);
    WriteWholeFile(image, whole);
    EXPECT_THROW(Check(image, {"c.bin", fatStart, runs, bytes.size()}, source), Failure);
}

// The free space add checks a new file against: what mdir says, for FAT16 and FAT32 boot areas,
// whatever FAT32's own free count says.
TEST(FbinstCopyCheck, FreeSpaceIsWhatMdirCounts) {
    ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    const std::string source = scratch.Path() + "/src.bin";
    WriteWholeFile(source, std::string(300000, 's'));
    setenv("VORNEL_DRIVES", ("G=" + image).c_str(), 1);
    for (const char* bootArea : {"16m", "600m"}) {
        MakeSparseImage(image, 700 << 20);
        ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "8m", "-e", bootArea}).exitCode, 0);
        ASSERT_EQ(RunFbinstExe({"G:", "add", "a/b.bin", source}).exitCode, 0);
        const std::string listing = RunProgram({"mdir", "-i", image + "@@8388608", "::/"}).out;
        std::string digits;
        for (char c : listing.substr(0, listing.find("bytes free"))
                          .substr(listing.rfind('\n', listing.find("bytes free"))))
            if (c >= '0' && c <= '9')
                digits += c;
        std::uint64_t free = 0;
        std::array<std::uint8_t, 512> bootSector{};
        {
            const Disk disk(image, true, false);
            free = FatVolume(disk, 8 << 20).FreeBytes();
            EXPECT_EQ(free, std::stoull(digits)) << bootArea;
            disk.ReadAt(8 << 20, bootSector);
        }
        // FAT32's own free count is taken when it says a file fits, and counted over when it says not.
        const std::uint64_t fsInfo = ParseFatGeometry(bootSector).fsInfoStartBytes;
        EXPECT_EQ(fsInfo != 0, std::string(bootArea) == "600m");
        if (fsInfo != 0) {
            std::fstream stick(image, std::ios::in | std::ios::out | std::ios::binary);
            stick.seekp(static_cast<std::streamoff>((8 << 20) + fsInfo + 488));
            stick.write("\0\0\0\0", 4);
        }
        const Disk disk(image, true, false);
        EXPECT_TRUE(FatVolume(disk, 8 << 20).HasRoomFor(free)) << bootArea;
        EXPECT_FALSE(FatVolume(disk, 8 << 20).HasRoomFor(free + 1)) << bootArea;
        std::filesystem::remove(image);
    }
    // Two 12-bit entries share three bytes; a 32-bit entry's top four bits are not its value.
    const std::array<std::uint8_t, 9> fat12{0xF8, 0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0x05, 0x00, 0x00};
    EXPECT_EQ(CountFreeClusters(fat12, 4), 2u);
    std::array<std::uint8_t, 4 * 70000> fat32{};
    fat32[11] = 0xF0;                   // cluster 2: reserved bits only, so free
    fat32[12] = 0x07, fat32[15] = 0x0F; // cluster 3: in use
    EXPECT_EQ(CountFreeClusters(fat32, 69000), 69000u - 1u);
    EXPECT_THROW(CountFreeClusters(fat12, 8), Failure);
}

} // namespace
} // namespace vornel::fbinst::testing
