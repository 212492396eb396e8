// A real USB stick in a real Linux system: the test machine's USB stick, listed by the program by
// itself, made and given back by the program's own operations while udev runs, while
// automounters mount what udev announces, and as an ordinary user through pkexec and polkit.
// The stick made there then boots to the Chinese menu on the PC BIOS and on UEFI.

#include "fbinst/ImageChecks.h"
#include "fbinst/loader/BootFixture.h"
#include "vm/GuestMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace vornel::vm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using fbinst::testing::FsckFat;
using fbinst::testing::SfdiskDump;

constexpr const char* kMade = "恭喜你，制作完成！";
constexpr const char* kRestored = " U盘空间已还原！";
constexpr const char* kPassword = "vornel-test";
constexpr const char* kPowerOffTitle = "关闭计算机"; // the package menu's third entry
// The guest script's preamble: the build tree, and udev done with what came before.
const std::string kPreamble = std::string("export VORNEL_BUILD_DIR=") + VORNEL_BUILD_TREE +
                              " VORNEL_PASSWORD=" + kPassword +
                              "\nguest=" VORNEL_SOURCE_TREE "/tests/vm/guest\nudevadm settle\ncd /tmp\n";

// Why no machine could be started here (no kernel or udev package in the cache), or "".
std::string NoMachine() {
    return fbinst::testing::ReadWholeFile(NoKitMarker(VORNEL_VM_FOLDER));
}

// One stick plugged into the running test machine for the case, pulled out at its end.
class UsbStickInGuest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = NoMachine(); !why.empty())
            GTEST_SKIP() << why;
        char pattern[] = "/tmp/vm-stick-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        image_ = dir_ + "/stick.img";
        fbinst::testing::MakeSparseImage(image_, 256 << 20);
        machine_.Plug("stick", image_);
        plugged_ = true;
        const GuestRun seen =
            Guest("for i in $(seq 100); do [ -b /dev/disk/by-id/usb-QEMU_QEMU_HARDDISK_stick-0:0 ] "
                  "&& exit 0; sleep 0.2; udevadm settle; done; exit 1",
                  60s);
        ASSERT_EQ(seen.exitCode, 0) << "the guest never saw the stick\n" << machine_.Console();
    }
    void TearDown() override {
        try {
            if (plugged_)
                machine_.Unplug("stick");
        } catch (const GuestError& error) {
            ADD_FAILURE() << error.what();
        }
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    GuestRun Guest(const std::string& script, std::chrono::seconds bound) const {
        return machine_.Run(kPreamble + script, bound);
    }

    // The operation, as root or through desktop-user.sh as the user "vornel" with an agent.
    std::string Operation(const std::string& which, bool asUser) const {
        const std::string program = std::string(VORNEL_BUILD_TREE) + "/tests/vm/vm_operation " + which;
        return asUser ? "sh $guest/desktop-user.sh " + program + " /opt/vornel/data/ " + kPassword
                      : program + " $VORNEL_BUILD_DIR/data/";
    }

    // An operation's log: the stick listed by itself, the success message, and no sign of a
    // failed or repeated command.
    static void ExpectDone(const GuestRun& run, const std::string& message) {
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(std::regex_search(run.output, std::regex("drive: A: \\(QEMU QEMU_HARDDISK  容量：")))
            << run.output;
        EXPECT_NE(run.output.find("message: " + message), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("in use"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("失败"), std::string::npos) << run.output;
    }

    // Both file systems clean; the boot area, active, starts at 8 MiB.
    void ExpectMadeStick() const {
        const auto partitions = SfdiskDump(image_);
        ASSERT_EQ(partitions.size(), 2u);
        for (const auto& partition : partitions) {
            EXPECT_EQ(FsckFat(image_, partition.start, partition.size).exitCode, 0);
            EXPECT_EQ(partition.bootable, partition.start == 16384) << partition.start;
        }
    }

    void ExpectRestoredStick() const {
        const auto partitions = SfdiskDump(image_);
        ASSERT_EQ(partitions.size(), 1u);
        EXPECT_EQ(partitions[0].type, "c");
        EXPECT_EQ(FsckFat(image_, partitions[0].start, partitions[0].size).exitCode, 0);
    }

    // An automounter (tests/vm/guest/automounter.sh) in the background, its mounts logged in
    // /tmp/automount.log.
    void StartAutomounter(const std::string& mode) const {
        ASSERT_EQ(Guest("rm -f /tmp/automount.log\nsetsid sh $guest/automounter.sh /tmp/automount.log " +
                            mode + " </dev/null >/dev/null 2>&1 &\necho $! >/tmp/automounter.pid\nsleep 1",
                        30s)
                      .exitCode,
                  0);
    }
    // Stops it, unmounts what it mounted last (a mounted FAT is marked dirty) and gives its log.
    std::string StopAutomounter() const {
        return Guest("kill -- -$(cat /tmp/automounter.pid)\numount /media/vornel/* 2>/dev/null\n"
                     "cat /tmp/automount.log 2>/dev/null; true",
                     30s)
            .output;
    }

    GuestMachine machine_{VORNEL_VM_FOLDER};
    std::string dir_;
    std::string image_;
    bool plugged_ = false;
};

TEST_F(UsbStickInGuest, MakeAndRestoreAsRootWithUdev) {
    fs::remove(VORNEL_VM_MADE_STICK);
    const GuestRun make = Guest(Operation("make", false), 300s);
    ExpectDone(make, kMade);
    ExpectMadeStick();
    // The boot cases boot this stick.
    fbinst::loader::test::Sh("cp --sparse=always " + image_ + " " VORNEL_VM_MADE_STICK);

    const GuestRun restore = Guest(Operation("restore", false), 120s);
    ExpectDone(restore, kRestored);
    ExpectRestoredStick();
}

// The most eager automounter there can be mounts the stick's partitions on every udev event, and
// has the made stick mounted when the restore begins: each command takes the stick back.
TEST_F(UsbStickInGuest, MakeAndRestoreWhileAnAutomounterMountsEveryPartition) {
    StartAutomounter("every");
    const GuestRun make = Guest(Operation("make", false), 300s);
    const GuestRun mounted = Guest("for i in $(seq 300); do grep -q '^/dev/sda' /proc/mounts && exit 0; "
                                   "sleep 0.2; done; exit 1",
                                   90s);
    const GuestRun restore = Guest(Operation("restore", false), 120s);
    StopAutomounter();
    ExpectDone(make, kMade);
    EXPECT_EQ(mounted.exitCode, 0) << "the automounter never mounted the made stick";
    ExpectDone(restore, kRestored);
    ExpectRestoredStick();
}

// A desktop: an ordinary user, one password per operation (pkexec, polkit and an agent), and an
// automounter that mounts partitions as they appear. Only format makes partitions appear, so the
// automounter can have the stick at most once during the make, and the next command takes it back.
TEST_F(UsbStickInGuest, MakeAndRestoreAsADesktopUserWithOnePasswordEach) {
    StartAutomounter("new");
    const GuestRun make = Guest(Operation("make", true) +
                                    "\nstatus=$?\necho \"mounts during the make: $(cat /tmp/automount.log "
                                    "2>/dev/null | wc -l)\"\nexit $status",
                                300s);
    const GuestRun restore = Guest(Operation("restore", true), 120s);
    StopAutomounter();
    ExpectDone(make, kMade);
    EXPECT_NE(make.output.find("password prompts: 1\n"), std::string::npos) << make.output;
    std::smatch mounts;
    ASSERT_TRUE(std::regex_search(make.output, mounts, std::regex("mounts during the make: (\\d+)")));
    EXPECT_LE(std::stoi(mounts[1]), 1) << make.output;
    ExpectDone(restore, kRestored);
    EXPECT_NE(restore.output.find("password prompts: 1\n"), std::string::npos) << restore.output;
    ExpectRestoredStick();
}

// The stick the operation made in the test machine, booted on the host.
class MadeStickBoot : public fbinst::loader::test::StickBoot {
  protected:
    void SetUp() override {
        if (const std::string why = NoMachine(); !why.empty())
            GTEST_SKIP() << why;
        StickBoot::SetUp();
        ASSERT_TRUE(fs::exists(VORNEL_VM_MADE_STICK)) << "no stick was made in the test machine";
        fbinst::loader::test::Sh("cp --sparse=always " VORNEL_VM_MADE_STICK " " + image_);
    }

    // The menu shows; its third entry powers the machine off.
    void ExpectMenuThenPowerOff(fbinst::loader::test::Firmware firmware) {
        firmware_ = firmware;
        Start(300);
        ASSERT_GT(WaitForSerial(kPowerOffTitle, 0, 240), 0) << SerialSoFar();
        EXPECT_NE(SerialSoFar().find("从本地硬盘启动"), std::string::npos) << SerialSoFar();
        ChooseEntry(2);
        EXPECT_EQ(Finish().exitCode, 0) << SerialSoFar();
    }
};

TEST_F(MadeStickBoot, ReachesTheChineseMenuOnTheBios) {
    ExpectMenuThenPowerOff(fbinst::loader::test::Firmware::SeaBios);
}

TEST_F(MadeStickBoot, ReachesTheChineseMenuOnUefi) {
    ExpectMenuThenPowerOff(fbinst::loader::test::Firmware::Ovmf);
}

} // namespace
} // namespace vornel::vm
