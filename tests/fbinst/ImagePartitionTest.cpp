// Partitions for images too large for the boot area: reserved by format -i in the slots the mode
// leaves free, written raw by add-image, judged by sfdisk, fsck.fat and the bytes themselves.

#include "ImageChecks.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vornel::fbinst::testing {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kImageBytes = 256 * kMiB;
constexpr std::uint64_t kBootStart = 16384;               // -p 8m
constexpr std::uint64_t kFirstImageStart = 16384 + 40960; // after -e 20m

class ImagePartition : public ::testing::Test {
  protected:
    void SetUp() override {
        image_ = scratch_.Path() + "/stick.img";
        MakeSparseImage(image_, kImageBytes);
        setenv("VORNEL_DRIVES", ("G=" + image_).c_str(), 1);
    }

    void Format(std::vector<std::string> options) {
        std::vector<std::string> args{"G:", "format", "-f", "-a", "-p", "8m", "-e", "20m"};
        args.insert(args.end(), options.begin(), options.end());
        const ToolResult format = RunFbinstExe(args);
        ASSERT_EQ(format.exitCode, 0) << format.err;
    }

    // A source of `bytes` whose stretches from each offset in `data` (1 MiB each) hold a pattern;
    // the rest are holes.
    std::string SparseSource(const std::string& name, std::uint64_t bytes,
                             const std::vector<std::uint64_t>& data) {
        const std::string path = scratch_.Path() + "/" + name;
        MakeSparseImage(path, bytes);
        const int fd = open(path.c_str(), O_WRONLY);
        for (const std::uint64_t at : data) {
            std::string piece(std::min(kMiB, bytes - at), '\0');
            for (std::size_t i = 0; i < piece.size(); ++i)
                piece[i] = static_cast<char>((at + i) * 2654435761u >> 13);
            EXPECT_EQ(pwrite(fd, piece.data(), piece.size(), static_cast<off_t>(at)),
                      static_cast<ssize_t>(piece.size()));
        }
        close(fd);
        return path;
    }

    ScratchFolder scratch_;
    std::string image_;
};

TEST_F(ImagePartition, FormatReservesThemBetweenTheBootAreaAndTheDataPartition) {
    for (const bool zip : {false, true}) {
        Format(zip ? std::vector<std::string>{"-z", "-i", "40m", "-i", "30m"}
                   : std::vector<std::string>{"-i", "40m", "-i", "30m"});
        const auto table = SfdiskDump(image_);
        ASSERT_EQ(table.size(), 4u);
        const auto slot = [&](int n) { return table[static_cast<std::size_t>(n - 1)]; };
        const int first = zip ? 1 : 3, second = zip ? 3 : 4, data = zip ? 4 : 1;
        EXPECT_EQ(slot(first).start, kFirstImageStart);
        EXPECT_EQ(slot(first).size, 40 * 2048u);
        EXPECT_EQ(slot(first).type, "17");
        EXPECT_EQ(slot(second).start, kFirstImageStart + 40 * 2048);
        EXPECT_EQ(slot(second).size, 30 * 2048u);
        EXPECT_EQ(slot(second).type, "17");
        EXPECT_FALSE(slot(first).bootable || slot(second).bootable);
        EXPECT_EQ(slot(data).start, kFirstImageStart + 70 * 2048);
        EXPECT_EQ(slot(data).start + slot(data).size, kImageBytes / 512);
        EXPECT_EQ(slot(data).type, "c");
        EXPECT_EQ(FsckFat(image_, slot(data).start, slot(data).size).exitCode, 0);
        // An image partition in the other mode's data slot leaves the mode as it is, and the boot
        // area takes files as ever.
        EXPECT_NE(RunFbinstExe({"G:", "info"}).out.find(zip ? "mode: USB-ZIP" : "mode: USB-HDD"),
                  std::string::npos);
        EXPECT_EQ(RunFbinstExe({"G:", "add", "menu.lst", SparseSource("menu.lst", 10, {})}).exitCode, 0);
    }
    // Restore leaves one FAT32 partition.
    ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-r"}).exitCode, 0);
    const auto restored = SfdiskDump(image_);
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0].type, "c");
}

TEST_F(ImagePartition, AddImageWritesItRawWithItsHolesAsZerosAndTheStickStaysSparse) {
    Format({"-i", "40m"});
    const std::uint64_t start = kFirstImageStart * 512;
    // What lay there before must not show through the new image's holes.
    const std::string full =
        SparseSource("full.iso", 8 * kMiB, {0, kMiB, 2 * kMiB, 3 * kMiB, 4 * kMiB, 5 * kMiB});
    ASSERT_EQ(RunFbinstExe({"G:", "add-image", "3", full}).exitCode, 0);
    // Data at its start and in its last, partial sector; a hole of 30 MiB between.
    const std::uint64_t bytes = 32 * kMiB + 100;
    const std::string sparse = SparseSource("sparse.iso", bytes, {0, 32 * kMiB});
    const ToolResult added = RunFbinstExe({"G:", "add-image", "3", sparse});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_NE(added.out.find("into the image partition in slot 3"), std::string::npos) << added.out;
    EXPECT_TRUE(ReadBytes(image_, start, bytes) == ReadWholeFile(sparse));
    const int fd = open(image_.c_str(), O_RDONLY);
    EXPECT_GE(lseek(fd, static_cast<off_t>(start + kMiB), SEEK_DATA), static_cast<off_t>(start + 32 * kMiB));
    close(fd);
}

TEST_F(ImagePartition, AddImageRefusesWhatItCannotWriteAndWritesNothing) {
    const std::string source = SparseSource("a.iso", 41 * kMiB, {0});
    EXPECT_NE(RunFbinstExe({"G:", "add-image", "3", source}).err.find("no boot area"), std::string::npos);
    Format({"-i", "40m"});
    const std::uint64_t before = Fingerprint(image_);
    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"1", source}, "slot 1 is not an image slot: the drive's USB-HDD layout keeps slots 3 and 4"},
        {{"2", source}, "slot 2 is not an image slot"},
        {{"4", source}, "slot 4 of the drive holds no image partition"},
        {{"3", source}, "is larger than the image partition in slot 3"},
        {{"3", scratch_.Path()}, "is not a file"},
        {{"3", scratch_.Path() + "/none.iso"}, "cannot read"}};
    for (const auto& [operands, reason] : refusals) {
        const ToolResult run = RunFbinstExe({"G:", "add-image", operands[0], operands[1]});
        EXPECT_EQ(run.exitCode, 1) << reason;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    EXPECT_EQ(Fingerprint(image_), before);
}

} // namespace
} // namespace vornel::fbinst::testing
