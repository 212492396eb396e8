// The whole program: a disk image stands in for a stick; the make button turns it into a boot
// disk with two custom images, QEMU boots it and reaches a custom image through the menu, and the
// restore button gives the space back. ISOs of 4 GiB or more get partitions of their own and boot
// on every firmware.

#include "app/F_frmMain.h"
#include "fbinst/ImageChecks.h"
#include "fbinst/loader/BootFixture.h"
#include "support/RecordingMessages.h"

#include <QComboBox>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vornel {
namespace {

namespace fs = std::filesystem;
using fbinst::loader::test::Firmware;
using fbinst::loader::test::kFloppyExitValue;
using fbinst::loader::test::kIsoExitValue;
using fbinst::loader::test::QemuExitCode;
using fbinst::testing::FsckFat;
using fbinst::testing::ReadBytes;
using fbinst::testing::RunFbinstExe;
using fbinst::testing::RunProgram;
using fbinst::testing::SfdiskDump;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The entries of a menu.lst text.
int CountTitles(const std::string& menu) {
    int titles = 0;
    for (auto at = menu.find("title "); at != std::string::npos; at = menu.find("title ", at + 1))
        titles += at == 0 || menu[at - 1] == '\n';
    return titles;
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

// One boot of its own copy of a made stick, beside others: its own stick image, serial line and
// firmware variables, so that several firmwares boot the stick at once.
class SideBoot : public fbinst::loader::test::StickBoot {
  public:
    SideBoot(const std::string& stick, Firmware firmware) {
        SetUp();
        fbinst::loader::test::Sh("cp --sparse=always " + stick + " " + image_);
        firmware_ = firmware;
    }
    ~SideBoot() override { TearDown(); }
    void TestBody() override {}

    // Waits for the menu (known by `lastTitle`), starts entry `below`, chooses the first entry of
    // the image's own menu at once when `enterAt` (a title of it) shows, and gives the serial line
    // once every marker has shown, or once the time-out ended the wait.
    std::string BootEntry(const std::string& lastTitle, int below, const std::string& enterAt,
                          const std::vector<std::string>& markers) {
        Start(400);
        if (WaitForSerial(lastTitle) > 0) {
            ChooseEntry(below);
            if (!enterAt.empty() && WaitForSerial(enterAt) > 0)
                Keys({"ret"});
            for (const std::string& marker : markers)
                WaitForSerial(marker, 0, 300);
        }
        Quit();
        return SerialSoFar();
    }
};

TEST_F(WholeProgram, IsosOf4GiBGetPartitionsOfTheirOwnAndBootOnEveryFirmware) {
    const std::string isos = dir_ + "/isos";
    fs::create_directory(isos);
    const auto made = RunProgram(
        {"sh", std::string(std::getenv("VORNEL_SOURCE_DIR")) + "/tests/fbinst/loader/make-linux-test-isos.sh",
         isos, "big", "big-live"});
    if (made.exitCode == 77)
        GTEST_SKIP() << made.err;
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string big = isos + "/big.iso", live = isos + "/big-live.iso";
    ASSERT_GT(fs::file_size(big), std::uintmax_t{4} << 30);
    fs::resize_file(image_, std::uintmax_t{12} << 30);
    window_->ScanUsbDisks();
    const std::string stick = window_->cbb_disk->currentText().toStdString();
    ASSERT_NE(stick.find("12.00GB"), std::string::npos) << stick;
    std::ofstream(dataFolder_ + "isolist", std::ios::binary)
        << "大镜像|" << big << "\r\n自定义光盘|" << iso_ << "\r\n大镜像二|" << live << "\r\n";

    emit window_->btn_make->OnClick();
    ASSERT_EQ(boxes_.messages, QStringList{QStringLiteral("恭喜你，制作完成！")});
    ASSERT_EQ(boxes_.confirmations.size(), 1);
    EXPECT_TRUE(boxes_.confirmations[0].endsWith(QString::fromStdString("\r" + stick)))
        << boxes_.confirmations[0].toStdString();
    // Each ISO is in a partition of its own, of its whole MiB, behind the boot area; the data
    // partition gives up exactly their room and stays FAT32; the stick stays sparse.
    const auto partitions = SfdiskDump(image_);
    ASSERT_EQ(partitions.size(), 4u);
    const std::pair<int, std::string> images[] = {{3, big}, {4, live}};
    for (const auto& [slot, iso] : images) {
        const auto& partition = partitions[static_cast<std::size_t>(slot - 1)];
        EXPECT_EQ(partition.type, "17");
        EXPECT_EQ(partition.size, (fs::file_size(iso) + (1 << 20) - 1) / (1 << 20) * 2048);
        // Its start and its end, where the kernel lies beyond 4 GiB.
        for (const std::uint64_t at : {std::uint64_t{0}, fs::file_size(iso) - (16 << 20)})
            EXPECT_TRUE(ReadBytes(image_, partition.start * 512 + at, 16 << 20) ==
                        ReadBytes(iso, at, 16 << 20))
                << slot << " at " << at;
    }
    EXPECT_EQ(partitions[3].start, partitions[2].start + partitions[2].size);
    EXPECT_EQ(partitions[0].start, partitions[3].start + partitions[3].size);
    EXPECT_EQ(partitions[0].start + partitions[0].size, (std::uint64_t{12} << 30) / 512);
    EXPECT_EQ(FsckFat(image_, partitions[0].start, partitions[0].size).exitCode, 0);
    struct stat allocated {};
    ASSERT_EQ(::stat(image_.c_str(), &allocated), 0);
    EXPECT_LT(allocated.st_blocks * 512, 512 << 20);

    // Booted at once on each firmware: the first through its own menu, which finds its own font
    // through $prefix on the PC BIOS (on UEFI the signed GRUB has the font built in) and counts
    // down the stick menu's time-out; the second, a Debian live layout, finds its medium without
    // being told where it is.
    const std::string menu = RunFbinstExe({"G:", "cat", "menu.lst"}).out;
    const int bigEntry = CountTitles(menu.substr(0, menu.find("title 大镜像\r")));
    const std::string found = "VORNEL-ISO-FOUND medium big";
    struct Run {
        Firmware firmware;
        int entry;
        std::string enterAt;
        std::vector<std::string> markers;
        std::string serial = {};
    };
    std::vector<Run> runs = {
        {Firmware::SeaBios, bigEntry, "", {"big test system", "VORNEL-ISO-OWN-FONT", found + "\r"}},
        {Firmware::Ovmf, bigEntry + 2, "", {"looking for nothing (no parameter)", found + "-live"}},
        {Firmware::OvmfSecureBoot, bigEntry, "big test system", {found + "\r"}}};
    std::signal(SIGPIPE, SIG_IGN); // a machine that powered itself off has no monitor to quit
    {
        std::vector<std::thread> threads;
        for (Run& run : runs)
            threads.emplace_back([&run, this] {
                run.serial =
                    SideBoot(image_, run.firmware).BootEntry("大镜像二", run.entry, run.enterAt, run.markers);
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    for (const Run& run : runs)
        for (const std::string& marker : run.markers)
            EXPECT_NE(run.serial.find(marker), std::string::npos) << marker << "\n" << run.serial;

    // A third such ISO is refused before the question, saying why.
    std::ofstream(dataFolder_ + "isolist", std::ios::binary | std::ios::app) << "第三个|" << big << "\r\n";
    emit window_->btn_make->OnClick();
    EXPECT_EQ(boxes_.confirmations.size(), 1);
    EXPECT_TRUE(boxes_.messages.back().startsWith(
        QString::fromStdString("文件:" + big + " 是第三个4GB或以上的镜像！")))
        << boxes_.messages.back().toStdString();

    emit window_->btn_clean->OnClick();
    EXPECT_EQ(boxes_.messages.back(), QStringLiteral(" U盘空间已还原！"));
    const auto restored = SfdiskDump(image_);
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0].type, "c");
    EXPECT_EQ(restored[0].start + restored[0].size, (std::uint64_t{12} << 30) / 512);
}

} // namespace
} // namespace vornel
