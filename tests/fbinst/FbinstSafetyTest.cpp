// The tool never writes a drive it was not meant to, and never reports a failed write as done.

#include "CopyCheck.h"
#include "Failure.h"
#include "ImageChecks.h"
#include "Rights.h"

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace vornel::fbinst::testing {
namespace {

namespace fs = std::filesystem;

// A fake sysfs with one disk sdc; the disk's node is a plain file standing in for /dev/sdc.
struct FakeDisk : FakeSdcTree {
    FakeDisk(const std::string& root, bool removable) : FakeSdcTree(root, removable) {
        MakeSparseImage(node, 64 << 20);
    }
};

// A loop device over `image`, offered as the removable disk sdc of a fake sysfs: a real block
// device for the tool. Skips (empty `loop`) where no loop device can be had.
struct LoopStick {
    LoopStick(const std::string& root, const std::string& image,
              const std::vector<std::string>& losetupOptions)
        : stick(root, true) {
        std::vector<std::string> command{"losetup"};
        command.insert(command.end(), losetupOptions.begin(), losetupOptions.end());
        command.insert(command.end(), {"--find", "--show", image});
        const ToolResult attached = RunProgram(command);
        if (attached.exitCode != 0) {
            whyNot = attached.err;
            return;
        }
        loop = attached.out.substr(0, attached.out.find('\n'));
        struct stat loopInfo {};
        EXPECT_EQ(stat(loop.c_str(), &loopInfo), 0);
        EXPECT_EQ(mknod(stick.node.c_str(), S_IFBLK | 0600, loopInfo.st_rdev), 0);
        WriteWholeFile(stick.sources.sysfsRoot + "/block/sdc/dev",
                       std::to_string(major(loopInfo.st_rdev)) + ":" +
                           std::to_string(minor(loopInfo.st_rdev)) + "\n");
    }
    ~LoopStick() {
        if (!loop.empty())
            RunProgram({"losetup", "--detach", loop});
    }
    LoopStick(const LoopStick&) = delete;
    LoopStick& operator=(const LoopStick&) = delete;

    FakeSdcTree stick;
    std::string loop;
    std::string whyNot;
};

int RunInProcess(const std::vector<std::string>& args, const platform::LinuxDriveSources& sources,
                 std::string& err) {
    std::ostringstream out, errors;
    const int code = RunFbinstWithRights(args, sources, Elevation{}, out, errors);
    err = errors.str();
    return code;
}

TEST(FbinstSafety, AFixedDisksLetterIsRefusedBeforeAnythingIsOpened) {
    ScratchFolder scratch;
    FakeDisk fixed(scratch.Path(), false);
    const std::string before = ReadWholeFile(fixed.node);
    std::string err;
    EXPECT_EQ(RunInProcess({"C:", "format", "-f", "-r"}, fixed.sources, err), 1);
    EXPECT_NE(err.find("is not a removable drive"), std::string::npos) << err;
    EXPECT_TRUE(ReadWholeFile(fixed.node) == before);
}

TEST(FbinstSafety, ARemovableLetterMustStillBeABlockDevice) {
    ScratchFolder scratch;
    FakeDisk stick(scratch.Path(), true);
    const std::string before = ReadWholeFile(stick.node);
    std::string err;
    EXPECT_EQ(RunInProcess({"C:", "format", "-f", "-r"}, stick.sources, err), 1);
    EXPECT_NE(err.find("is not a block device"), std::string::npos) << err;
    EXPECT_TRUE(ReadWholeFile(stick.node) == before);
}

// An image on a small tmpfs: writes into its holes fail with "no space" part of the way.
class FullFileSystem : public ::testing::Test {
  protected:
    void Mount(const std::string& size) {
        mountPoint_ = scratch_.Path() + "/small";
        fs::create_directories(mountPoint_);
        if (mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
        mounted_ = true;
        image_ = mountPoint_ + "/stick.img";
        MakeSparseImage(image_, 128 << 20);
        setenv("VORNEL_DRIVES", ("G=" + image_).c_str(), 1);
    }
    void TearDown() override {
        if (mounted_)
            umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    ScratchFolder scratch_;
    std::string mountPoint_;
    std::string image_;
    bool mounted_ = false;
};

TEST_F(FullFileSystem, FormatThatRunsOutOfSpaceFails) {
    Mount("3m");
    if (!mounted_)
        return;
    const ToolResult run = RunFbinstExe({"G:", "format", "-f", "-a", "-p", "8m", "-e", "20m"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.rfind("fbinst: ", 0), 0u) << run.err;
    EXPECT_EQ(fs::file_size(image_), 128u << 20);
}

TEST_F(FullFileSystem, AddThatRunsOutOfSpaceFails) {
    Mount("16m");
    if (!mounted_)
        return;
    ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "40m"}).exitCode, 0);
    const std::string big = scratch_.Path() + "/big.iso";
    WriteWholeFile(big, std::string(24 << 20, 'x'));
    const ToolResult run = RunFbinstExe({"G:", "add", "boot/customISO_0.iso", big});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.rfind("fbinst: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out.find("added"), std::string::npos);
    EXPECT_EQ(fs::file_size(image_), 128u << 20);
    const ToolResult ls = RunFbinstExe({"G:", "ls"});
    EXPECT_EQ(ls.out.find("customISO_0.iso"), std::string::npos) << "a partial copy was left behind";
}

// A partial image must not pass for one: its partition's start (an ISO's volume descriptors) goes.
TEST_F(FullFileSystem, AddImageThatRunsOutOfSpaceFailsAndLeavesNoPartialImage) {
    Mount("16m");
    if (!mounted_)
        return;
    ASSERT_EQ(RunFbinstExe({"G:", "format", "-f", "-a", "-p", "1m", "-e", "8m", "-i", "40m"}).exitCode, 0);
    const std::string big = scratch_.Path() + "/big.iso";
    WriteWholeFile(big, std::string(24 << 20, 'x'));
    const ToolResult run = RunFbinstExe({"G:", "add-image", "3", big});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("fbinst: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out.find("wrote"), std::string::npos);
    EXPECT_EQ(fs::file_size(image_), 128u << 20);
    EXPECT_EQ(ReadBytes(image_, 9 << 20, 1 << 20), std::string(1 << 20, '\0'));
}

// A stick whose writes fail only when the kernel writes them out, as a dying stick does: a loop
// device over an image on a tmpfs too small for it. Every write() succeeds into the page cache;
// the flush meets the errors.
TEST_F(FullFileSystem, AStickThatFailsWritesLaterIsNeverReportedAsDone) {
    Mount("20m");
    if (!mounted_)
        return;
    LoopStick loop(scratch_.Path(), image_, {});
    if (loop.loop.empty())
        GTEST_SKIP() << "no loop device here: " << loop.whyNot;
    FakeSdcTree& stick = loop.stick;
    WriteWholeFile(stick.sources.sysfsRoot + "/block/sdc/size", std::to_string((128 << 20) / 512) + "\n");

    std::string err;
    ASSERT_EQ(RunInProcess({"C:", "format", "-f", "-a", "-p", "1m", "-e", "40m"}, stick.sources, err), 0)
        << err;
    const std::string big = scratch_.Path() + "/big.iso";
    WriteWholeFile(big, std::string(24 << 20, 'x'));
    std::ostringstream out, errors;
    EXPECT_EQ(RunFbinstWithRights({"C:", "add", "boot/customISO_0.iso", big}, stick.sources, Elevation{}, out,
                                  errors),
              1);
    EXPECT_EQ(out.str().find("added"), std::string::npos) << out.str();
    EXPECT_EQ(errors.str().rfind("fbinst: ", 0), 0u) << errors.str();
}

// An image written into its partition of a stick: its holes become zeros there too, and the
// read-back reads the stick's medium (the image behind a loop device), not the cache, which still
// holds what was written.
TEST(FbinstBlockDevice, AnImageIsWrittenToItsPartitionAndReadBackFromTheMedium) {
    ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 128 << 20);
    LoopStick loop(scratch.Path(), image, {});
    if (loop.loop.empty())
        GTEST_SKIP() << "no loop device here: " << loop.whyNot;
    const FakeSdcTree& stick = loop.stick;
    std::string err;
    ASSERT_EQ(
        RunInProcess({"C:", "format", "-f", "-a", "-p", "8m", "-e", "16m", "-i", "40m"}, stick.sources, err),
        0)
        << err;
    constexpr std::uint64_t kMiB = 1 << 20, start = 24 * kMiB, bytes = 8 * kMiB;
    std::fstream(image, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(static_cast<std::streamoff>(start + 3 * kMiB))
        .write(std::string(kMiB, 'o').data(), static_cast<std::streamsize>(kMiB));
    // Data at its ends, a hole between.
    const std::string source = scratch.Path() + "/big.iso";
    MakeSparseImage(source, bytes);
    std::fstream(source, std::ios::in | std::ios::out | std::ios::binary)
        .write(std::string(kMiB, 'a').data(), static_cast<std::streamsize>(kMiB))
        .seekp(static_cast<std::streamoff>(bytes - kMiB))
        .write(std::string(kMiB, 'z').data(), static_cast<std::streamsize>(kMiB));
    const std::string bytesOfSource = ReadWholeFile(source);
    ASSERT_EQ(RunInProcess({"C:", "add-image", "3", source}, stick.sources, err), 0) << err;
    EXPECT_TRUE(ReadBytes(image, start, bytes) == bytesOfSource);

    const Disk disk(stick.node, false, false, stick.sources.sysfsRoot);
    const std::uint64_t at = start + bytes - 1000;
    std::array<std::uint8_t, 512> sector{};
    disk.ReadAt(at / 512 * 512, sector); // now in the cache
    std::fstream(image, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(static_cast<std::streamoff>(at))
        .put('y');
    disk.ReadAt(at / 512 * 512, sector);
    ASSERT_EQ(sector[at % 512], 'z') << "the cache no longer holds what was written";
    EXPECT_THROW(CheckRanges(DriveMedium(disk, false), {{0, start, bytes}}, source, "the image"), Failure);
}

// A stick as the system sees it: a block device the kernel scans for partitions. The tool holds it
// exclusively for the whole command, lets mkfs.fat claim it in turn, and has the kernel read the
// new table at the end. A program that holds the stick for a moment (an automounter that mounted
// it again since the last command) is waited for.
TEST(FbinstBlockDevice, AStickIsFormattedTwiceAndWrittenWhileTheToolHoldsIt) {
    ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 128 << 20);
    LoopStick loop(scratch.Path(), image, {"--partscan"});
    if (loop.loop.empty())
        GTEST_SKIP() << "no loop device here: " << loop.whyNot;
    FakeSdcTree& stick = loop.stick;

    std::string err;
    for (const char* size : {"40m", "20m"})
        ASSERT_EQ(RunInProcess({"C:", "format", "-f", "-a", "-p", "1m", "-e", size}, stick.sources, err), 0)
            << err;
    const std::string source = scratch.Path() + "/menu.lst";
    WriteWholeFile(source, "title x");
    ASSERT_EQ(RunInProcess({"C:", "add", "menu.lst", source}, stick.sources, err), 0) << err;
    std::ostringstream out, errors;
    EXPECT_EQ(RunFbinstWithRights({"C:", "cat", "menu.lst"}, stick.sources, Elevation{}, out, errors), 0)
        << errors.str();
    EXPECT_EQ(out.str(), "title x");

    const int held = open(loop.loop.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(held, 0);
    std::thread release([held] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        close(held);
    });
    EXPECT_EQ(RunInProcess({"C:", "add-menu", "-s", "fb.cfg", "default 0"}, stick.sources, err), 0) << err;
    release.join();
}

// add reads its copy back from the stick, not from the page cache: a byte that changes on the
// medium (the image behind a loop device) while the cache still holds what was written fails it.
TEST(FbinstBlockDevice, TheReadBackSeesTheStickNotTheCache) {
    ScratchFolder scratch;
    const std::string image = scratch.Path() + "/stick.img";
    MakeSparseImage(image, 64 << 20);
    LoopStick loop(scratch.Path(), image, {});
    if (loop.loop.empty())
        GTEST_SKIP() << "no loop device here: " << loop.whyNot;
    const FakeSdcTree& stick = loop.stick;
    std::string err;
    ASSERT_EQ(RunInProcess({"C:", "format", "-f", "-a", "-p", "8m", "-e", "16m"}, stick.sources, err), 0)
        << err;
    std::string bytes(300000, 'a');
    bytes[123456] = 'b';
    const std::string source = scratch.Path() + "/src.bin";
    WriteWholeFile(source, bytes);
    ASSERT_EQ(RunInProcess({"C:", "add", "f.bin", source}, stick.sources, err), 0) << err;

    const std::uint64_t fatStart = 16384 * 512;
    const CopyOnDrive copy{
        "f.bin", fatStart,
        ParseClusterRuns(
            RunProgram({"mshowfat", "-i", image + "@@" + std::to_string(fatStart), "::/f.bin"}).out),
        bytes.size()};
    const std::size_t at = ReadWholeFile(image).find(bytes.substr(123000, 1000)) + 456;
    const Disk disk(stick.node, false, false, stick.sources.sysfsRoot);
    std::array<std::uint8_t, 512> sector{};
    disk.ReadAt(at / 512 * 512, sector); // now in the cache
    std::fstream(image, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(static_cast<std::streamoff>(at))
        .put('a');
    disk.ReadAt(at / 512 * 512, sector);
    ASSERT_EQ(sector[at % 512], 'b') << "the cache no longer holds what was written";
    try {
        CheckCopy(DriveMedium(disk, false), copy, source);
        ADD_FAILURE() << "the check read the cache";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.ExitCode(), disktool::kExitCopyDiffers) << failure.what();
    }
}

} // namespace
} // namespace vornel::fbinst::testing
