// The whole program: a disk image stands in for a stick; the make button turns it into a boot
// disk with two custom images, QEMU boots it and reaches a custom image through the menu, and the
// restore button gives the space back.

#include "app/F_frmMain.h"
#include "fbinst/ImageChecks.h"
#include "fbinst/loader/BootFixture.h"
#include "support/RecordingMessages.h"

#include <QComboBox>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vornel {
namespace {

namespace fs = std::filesystem;
using fbinst::loader::test::kFloppyExitValue;
using fbinst::loader::test::kIsoExitValue;
using fbinst::loader::test::QemuExitCode;
using fbinst::testing::FsckFat;
using fbinst::testing::RunFbinstExe;
using fbinst::testing::SfdiskDump;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class WholeProgram : public fbinst::loader::test::StickBoot {
  protected:
    void SetUp() override {
        StickBoot::SetUp();
        fbinst::loader::test::Sh("truncate -s 256M " + image_);
        ::setenv("VORNEL_DRIVES", ("G=" + image_).c_str(), 1);

        dataFolder_ = dir_ + "/data/";
        fs::create_directories(dataFolder_);
        fs::copy_file(std::string(std::getenv("VORNEL_BUILD_DIR")) + "/test-data/Data.Vn",
                      dataFolder_ + "Data.Vn");
        iso_ = PowerOffIso();
        floppy_ = PowerOffFloppy();
        std::ofstream(dataFolder_ + "isolist", std::ios::binary)
            << "自定义光盘|" << iso_ << "\r\n自定义软盘|" << floppy_ << "\r\n";
        temp_ = dir_ + "/temp/";
        ::mkdir(temp_.c_str(), 0700);

        drives_ = platform::CreateLinuxDriveQueries(platform::SystemDriveSources());
        app::MainWindowSetup setup{
            dataFolder_, QStringLiteral("http://127.0.0.1:9/"), drives_.get(), [this] { return temp_; }, {},
            {}};
        window_ = std::make_unique<app::TfrmMain>(setup);
        window_->ScanUsbDisks();
        window_->cbb_disk->setCurrentIndex(window_->cbb_disk->findText("G:", Qt::MatchStartsWith));
        ASSERT_TRUE(window_->cbb_disk->currentText().startsWith("G: (Vornel Virtual_Disk"))
            << window_->cbb_disk->currentText().toStdString();
        boxes_.answerYes = true;
    }

    void TearDown() override {
        window_.reset();
        ::unsetenv("VORNEL_DRIVES");
        StickBoot::TearDown();
    }

    // Boots the stick, waits for the menu, moves `down` entries down and starts that entry.
    int BootEntry(int down) {
        const std::string log = dir_ + "/serial.log";
        fs::remove(log);
        FILE* monitor = popen(QemuCommand(120, "stdio").c_str(), "w");
        if (monitor == nullptr)
            return -1;
        bool shown = false;
        for (int tick = 0; tick < 450 && !shown; ++tick) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            shown = ReadWhole(log).find("自定义软盘") != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        for (int i = 0; i < down; ++i)
            fputs("sendkey down\n", monitor);
        fputs("sendkey ret\n", monitor);
        fflush(monitor);
        const int status = pclose(monitor);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string dataFolder_, temp_, iso_, floppy_;
    std::unique_ptr<platform::DriveQueries> drives_;
    test::RecordingMessages boxes_;
    std::unique_ptr<app::TfrmMain> window_;
};

TEST_F(WholeProgram, MakeBootsACustomImageAndRestoreGivesTheSpaceBack) {
    emit window_->btn_make->OnClick();
    ASSERT_EQ(boxes_.errors, QStringList());
    ASSERT_EQ(boxes_.messages, QStringList{QStringLiteral("恭喜你，制作完成！")});
    EXPECT_FALSE(window_->Busy());
    EXPECT_FALSE(fs::exists(temp_ + "VnTemp"));

    // The layout, checked by tools other than ours: every FAT is clean.
    const auto partitions = SfdiskDump(image_);
    ASSERT_EQ(partitions.size(), 2u);
    for (const auto& partition : partitions) {
        const auto fsck = FsckFat(image_, partition.start, partition.size);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
    }
    const auto listing = RunFbinstExe({"G:", "ls"});
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    for (const char* name : {"menu.lst", "boot/customISO_0.iso", "boot/customISO_1.img", "vornel/grub.cfg",
                             "vornel/unicode.pf2", "vornel/memdisk"})
        EXPECT_NE(listing.out.find(name), std::string::npos) << name << " missing in\n" << listing.out;
    const auto menu = RunFbinstExe({"G:", "cat", "menu.lst"});
    EXPECT_NE(menu.out.find("title 自定义光盘\r\nmap --mem (ud)/boot/customISO_0.iso (0xFF)\r\n"),
              std::string::npos)
        << menu.out;
    EXPECT_EQ(RunFbinstExe({"G:", "cat", "boot/customISO_1.img"}).out, ReadWhole(floppy_));

    // The package's own menu comes first (five entries); the custom ISO is the sixth.
    EXPECT_EQ(BootEntry(5), QemuExitCode(kIsoExitValue)) << ReadWhole(dir_ + "/serial.log");

    emit window_->btn_clean->OnClick();
    EXPECT_EQ(boxes_.messages.back(), QStringLiteral(" U盘空间已还原！"));
    const auto restored = SfdiskDump(image_);
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0].type, "c");
    EXPECT_EQ(FsckFat(image_, restored[0].start, restored[0].size).exitCode, 0);
    EXPECT_NE(Boot(20).exitCode, QemuExitCode(kFloppyExitValue));
}

} // namespace
} // namespace vornel
