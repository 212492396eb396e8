// Sticks that do not keep what is written to them, as the program meets them in the test machine:
// a counterfeit one is refused by the capacity check before anything else is written, one that
// garbles a block fails the copy that holds it and the make stops there, and a sound one is made
// with every copy read back from the stick itself, as its read counter shows.

#include "fbinst/ImageChecks.h"
#include "vm/FaultyStick.h"
#include "vm/GuestMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>

namespace vornel::vm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using fbinst::testing::Fingerprint;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr const char* kMarker = "VORNEL-GARBLED-SECTOR";

class StickKeepsInGuest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = fbinst::testing::ReadWholeFile(NoKitMarker(VORNEL_VM_FOLDER)); !why.empty())
            GTEST_SKIP() << why;
        char pattern[] = "/tmp/vm-keeps-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!plugged_.empty())
            machine_.Unplug(plugged_);
        stick_.reset();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // Plugs the stick whose bytes `file` holds (an image file, or a FaultyStick's) and waits for
    // the guest to see it.
    void Plug(const std::string& file) {
        machine_.Plug("keeps", file);
        plugged_ = "keeps";
        ASSERT_EQ(Guest("for i in $(seq 100); do [ -b " + Device() + " ] && exit 0; sleep 0.2; done; exit 1", 60s)
                      .exitCode,
                  0)
            << "the guest never saw the stick\n"
            << machine_.Console();
    }
    void PlugFaulty(StickFault fault, std::uint64_t reported, std::uint64_t real) {
        flash_ = dir_ + "/flash.bin";
        stick_.emplace(dir_ + "/stick.sock", FaultyStickSetup{flash_, reported, real, fault, kMarker});
        Plug(stick_->QemuFile());
    }
    static std::string Device() { return "/dev/disk/by-id/usb-QEMU_QEMU_HARDDISK_keeps-0:0"; }

    GuestRun Guest(const std::string& script, std::chrono::seconds bound) const {
        return machine_.Run("export VORNEL_BUILD_DIR=" VORNEL_BUILD_TREE "\nudevadm settle\ncd /tmp\n" + script,
                            bound);
    }

    // The make, as the window runs it, with the build's package and custom images of `megabytes`
    // of zeros each made in the guest (the first holds the marker at 4 MiB). Prints "bytes read: N", what
    // the make's processes read from the stick: it runs in a cgroup of its own, whose io.stat
    // counts them alone (the stick's own counters in /sys/block count udev's probes too, about as
    // many bytes during a make as a small payload).
    GuestRun Make(int images, int megabytes) const {
        std::string script = "set -e\ndata=/tmp/keeps-data\nrm -rf $data; mkdir $data\n"
                             "cp $VORNEL_BUILD_DIR/data/Data.Vn $data/\n";
        for (int i = 0; i < images; ++i)
            script += "head -c " + std::to_string(megabytes) + "M /dev/zero >$data/" + std::to_string(i) +
                      ".iso\nprintf '自定义 " + std::to_string(i) + "|%s\\r\\n' $data/" + std::to_string(i) +
                      ".iso >>$data/isolist\n";
        if (images > 0)
            script += std::string("printf '") + kMarker + "' | dd of=$data/0.iso bs=1M seek=4 conv=notrunc status=none\n";
        script += "number=$(cat /sys/block/$(basename $(readlink -f " + Device() +
                  "))/dev)\necho +io >/sys/fs/cgroup/cgroup.subtree_control\n"
                  "group=/sys/fs/cgroup/keeps-make; rmdir $group 2>/dev/null || true; mkdir $group\nset +e\n"
                  "sh -c \"echo \\$\\$ >$group/cgroup.procs && exec " VORNEL_BUILD_TREE
                  "/tests/vm/vm_operation make $data/\"\nstatus=$?\n"
                  "echo \"bytes read: $(awk -v d=$number '$1 == d { for (i = 2; i <= NF; i++) "
                  "if (sub(/^rbytes=/, \"\", $i)) print $i }' $group/io.stat)\"\nexit $status";
        return Guest(script, 240s);
    }

    GuestMachine machine_{VORNEL_VM_FOLDER};
    std::string dir_;
    std::string flash_;
    std::string plugged_;
    std::optional<FaultyStick> stick_;
};

// A stick that reports twice its flash, whose second half lands on its first, and one that loses
// what is written past its flash: listed as a drive, refused before the format, left as it was.
TEST_F(StickKeepsInGuest, ACounterfeitStickIsRefusedBeforeAnythingIsWritten) {
    for (const StickFault fault : {StickFault::Wraps, StickFault::DropsBeyond}) {
        PlugFaulty(fault, 512 * kMiB, 256 * kMiB);
        // What the user had on it: bytes at its start and under its marks.
        Guest("for at in 0 64 128 192 255; do head -c 1M /dev/urandom | dd of=" + Device() +
                  " bs=1M seek=$at oflag=direct status=none; done",
              60s);
        const std::uint64_t before = Fingerprint(flash_);
        const GuestRun make = Make(0, 0);
        EXPECT_NE(make.exitCode, 0) << make.output;
        EXPECT_TRUE(std::regex_search(make.output, std::regex("drive: A: \\(QEMU QEMU_HARDDISK +容量：")))
            << make.output;
        EXPECT_NE(make.output.find("message: 容量检测失败：这个U盘报告的容量是 512 MB，但它实际的容量比这小"),
                  std::string::npos)
            << make.output;
        EXPECT_NE(make.output.find(fault == StickFault::Wraps ? "came back as the one written at byte"
                                                              : "did not come back"),
                  std::string::npos)
            << make.output;
        EXPECT_EQ(make.output.find("added"), std::string::npos) << "a command ran after the check\n" << make.output;
        EXPECT_EQ(Fingerprint(flash_), before) << "the stick was changed\n" << make.output;
        machine_.Unplug(plugged_);
        plugged_.clear();
        stick_.reset();
    }
}

// A stick that garbles the sector of the first custom image where its marker lies, though the
// cache holds it whole: that add fails naming the file, and the make stops there.
TEST_F(StickKeepsInGuest, ACopyTheStickGarblesStopsTheMakeThere) {
    PlugFaulty(StickFault::GarblesMarkedSector, 128 * kMiB, 128 * kMiB);
    const GuestRun make = Make(2, 8);
    EXPECT_NE(make.exitCode, 0) << make.output;
    EXPECT_NE(make.output.find("message: 制作失败：复制自定义镜像 /tmp/keeps-data/0.iso 时出错"
                               "（从U盘读回的数据与写入的不同"),
              std::string::npos)
        << make.output;
    EXPECT_NE(make.output.find("the copy of \"boot/customISO_0.iso\" read back from the drive differs"),
              std::string::npos)
        << make.output;
    EXPECT_EQ(make.output.find("added boot/customISO_1.iso"), std::string::npos) << make.output;
}

// A sound stick is made, and the make read at least the custom image's bytes from it: the copies
// were read back from the stick, not from the cache that still held them (the make's other reads,
// of FATs and folders, come to about 18 MB).
TEST_F(StickKeepsInGuest, ASoundStickIsMadeWithEveryCopyReadBackFromIt) {
    const std::string image = dir_ + "/stick.img";
    fbinst::testing::MakeSparseImage(image, 256 * kMiB);
    Plug(image);
    const GuestRun make = Make(1, 64);
    ASSERT_EQ(make.exitCode, 0) << make.output;
    EXPECT_NE(make.output.find("message: 恭喜你，制作完成！"), std::string::npos) << make.output;
    std::smatch read;
    ASSERT_TRUE(std::regex_search(make.output, read, std::regex("bytes read: (\\d+)"))) << make.output;
    EXPECT_GE(std::stoull(read[1]), 64 * kMiB) << make.output;
}

} // namespace
} // namespace vornel::vm
