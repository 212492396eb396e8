// What the tool reads of the system to meet udev and name who holds a drive: the lock table, the
// kernel's device events, udev's watch links.

#include "Holders.h"
#include "UdevWatch.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vornel::fbinst {
namespace {

namespace fs = std::filesystem;

TEST(FbinstHolders, OnlyGrantedFlocksOnTheDriveNodeHoldIt) {
    struct stat node {};
    node.st_dev = makedev(0, 0x1f); // shown in hex
    node.st_ino = 240;
    const std::string locks = "1: FLOCK  ADVISORY  READ  221 00:1f:240 0 EOF\n"
                              "1: -> FLOCK  ADVISORY  WRITE 300 00:1f:240 0 EOF\n" // still waiting
                              "2: POSIX  ADVISORY  WRITE 412 00:1f:240 0 EOF\n"    // another kind of lock
                              "3: FLOCK  ADVISORY  WRITE 500 00:1f:2400 0 EOF\n"   // another file
                              "4: FLOCK  ADVISORY  WRITE 501 00:31:240 0 EOF\n"    // decimal would match
                              "5: OFDLCK ADVISORY  READ  -1 00:1f:240 0 EOF\n";
    EXPECT_EQ(FlockHolders(locks, node), (std::vector<pid_t>{221}));
    EXPECT_EQ(Describe({221, "udev-worker"}), "udev-worker (process 221)");
    EXPECT_EQ(Describe({7, ""}), "process 7");
    EXPECT_EQ(ProgramName(getpid()), ProgramName(getpid(), "/proc"));
    EXPECT_FALSE(ProgramName(getpid()).empty());
}

TEST(FbinstUdev, UdevsAnswerIsAChangeOfTheDiskAndOfEachPartition) {
    const auto event = [](const std::string& action, const std::string& name, const std::string& subsystem) {
        return action + "@/devices/x/block/" + name + std::string(1, '\0') + "ACTION=" + action + '\0' +
               "DEVPATH=/devices/x/block/" + name + '\0' + "SUBSYSTEM=" + subsystem + '\0' +
               "DEVNAME=" + name + '\0' + "SEQNUM=7" + '\0';
    };
    UdevAnswer answer({"sda", "sda1", "sda2"});
    EXPECT_TRUE(answer.Heard(event("change", "sda1", "block")));
    EXPECT_FALSE(answer.Heard(event("add", "sda", "block")));
    EXPECT_FALSE(answer.Heard(event("change", "sda", "bdi")));
    EXPECT_FALSE(answer.Heard(event("change", "sdb", "block")));
    EXPECT_FALSE(answer.Heard("change@/devices/x/block/sda"));
    EXPECT_TRUE(answer.Heard(event("change", "sda", "block")));
    EXPECT_FALSE(answer.Complete());
    EXPECT_TRUE(answer.Heard(event("change", "sda2", "block")));
    EXPECT_TRUE(answer.Complete());
}

TEST(FbinstUdev, AWatchedDiskHasItsLinkInUdevsWatchFolder) {
    const fs::path root = fs::temp_directory_path() / ("fbinst-udev-" + std::to_string(getpid()));
    fs::create_directories(root / "watch");
    fs::create_symlink("208", root / "watch/b8:16");
    EXPECT_TRUE(UdevWatches(makedev(8, 16), root.string()));
    EXPECT_FALSE(UdevWatches(makedev(8, 1), root.string()));
    EXPECT_FALSE(UdevWatches(makedev(8, 16), (root / "none").string()));
    fs::remove_all(root);
}

} // namespace
} // namespace vornel::fbinst
