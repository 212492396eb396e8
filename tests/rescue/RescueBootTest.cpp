// The stick made with the program's package and its default menu, booted in QEMU: the rescue
// system's Chinese menu on the serial line and on the screen (read back by OCR) on the PC BIOS,
// UEFI and UEFI with Secure Boot; partitions backed up onto the stick, lost and restored; a disk
// wiped; memtest86+ started where it can be, and explained where Secure Boot refuses it.

#include "fbinst/loader/Shell.h"
#include "fbinst/loader/ToolStick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace vornel::rescue {
namespace {

namespace fs = std::filesystem;
using namespace fbinst::loader::test;

constexpr int kRescueEntry = 3; // rows below the first: the package's fourth entry
constexpr int kMemtestEntry = 4;
constexpr const char* kLastTitle = "内存检测";
constexpr const char* kPrompt = "请输入编号";
constexpr const char* kBackToMenu = "按回车键返回菜单";
constexpr const char* kConfirm = "直接回车取消"; // the end of every question before a write
constexpr const char* kShell = "救援系统 / #";

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RescueBoot : public ToolMadeStickBoot {
  protected:
    void SetUp() override {
        ToolMadeStickBoot::SetUp();
        package_ = std::string(std::getenv("VORNEL_BUILD_DIR")) + "/data/Data.Vn";
        MakeFromPackage(false, "", {});
        typedSerial_ = true;
    }

    // Boots the stick and starts the menu entry `below` rows under the first.
    void StartEntry(Firmware firmware, int below) {
        firmware_ = firmware;
        Start(600);
        ASSERT_GT(WaitForSerial(kLastTitle), 0) << "no boot menu\n" << Tail();
        ChooseEntry(below);
    }

    std::string Tail() const {
        const std::string serial = SerialSoFar();
        return serial.substr(serial.size() > 3000 ? serial.size() - 3000 : 0);
    }

    // Types a line and waits until `marker`, the last thing the answer shows, shows once more;
    // false on the time-out.
    bool Answer(const std::string& line, const std::string& marker) {
        const int seen = CountOnSerial(marker);
        TypeOnSerial(line + "\r");
        return WaitForSerial(marker, seen, 240) > 0;
    }

    // The number a list that was just shown gives the line holding `text`.
    std::string ChoiceFor(const std::string& text) const {
        const std::string serial = SerialSoFar();
        const auto at = serial.rfind(text);
        const auto line = serial.rfind('\n', at) + 1;
        std::smatch number;
        const std::string head = serial.substr(line, at - line);
        return std::regex_search(head, number, std::regex("^ +([0-9]+)\\. ")) ? number[1].str() : "none";
    }

    // The rescue menu on the serial line, then on the screen: fbterm may draw it a moment later.
    void ExpectMenuOnSerialAndScreen(const std::string& screenshot = "") {
        ASSERT_GT(WaitForSerial(kPrompt), 0) << "no rescue menu\n" << Tail();
        EXPECT_NE(SerialSoFar().find("启动U盘："), std::string::npos) << Tail();
        std::string text;
        for (int round = 0; round < 10 && text.find("安全擦除磁盘") == std::string::npos; ++round) {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            TakeScreen();
            // Dark text on light, twice the size: what tesseract reads best.
            Sh("convert " + dir_ + "/screen.ppm -negate -resize 200% -colorspace Gray " + dir_ + "/ocr.png");
            text = RunShell("tesseract " + dir_ + "/ocr.png - -l chi_sim --psm 6 2>/dev/null").first;
        }
        for (const char* item :
             {"救援系统", "磁盘概览", "备份分区到U盘", "从U盘还原分区", "安全擦除磁盘", "关机"}) {
            EXPECT_NE(text.find(item), std::string::npos) << item << " not on the screen:\n" << text;
        }
        if (!screenshot.empty()) {
            SaveScreen(screenshot);
        }
    }

    // The last screen taken, as a picture under the build tree beside the other screenshots.
    void SaveScreen(const std::string& name) {
        const std::string folder = std::string(std::getenv("VORNEL_BUILD_DIR")) + "/screenshots";
        Sh("mkdir -p " + folder + " && convert " + dir_ + "/screen.ppm " + folder + "/" + name);
    }
};

// A PC disk: an ext4 partition and an NTFS partition, each holding a file of random bytes.
struct PcDisk {
    std::string image;
    std::string extFile, ntfsFile; // the files' bytes
};

constexpr std::uint64_t kPartitionSectors = 49152; // 24 MiB
constexpr std::uint64_t kFirstStart = 2048, kSecondStart = kFirstStart + kPartitionSectors;

PcDisk MakePcDisk(const std::string& dir) {
    PcDisk disk{dir + "/pc-a.img", dir + "/photo.jpg", dir + "/report.doc"};
    Sh("mkdir " + dir + "/ext && head -c 3000000 /dev/urandom >" + dir + "/ext/photo.jpg && cp " + dir +
       "/ext/photo.jpg " + disk.extFile + " && head -c 2500000 /dev/urandom >" + disk.ntfsFile);
    Sh("truncate -s 24M " + dir + "/p1.img " + dir + "/p2.img && mkfs.ext4 -q -L 数据 -d " + dir + "/ext " +
       dir + "/p1.img && mkntfs -q -F -f -L Windows " + dir + "/p2.img >/dev/null && ntfscp " + dir +
       "/p2.img " + disk.ntfsFile + " report.doc");
    Sh("truncate -s 64M " + disk.image + " && printf 'label: dos\\nstart=" + std::to_string(kFirstStart) +
       ",size=" + std::to_string(kPartitionSectors) + ",type=83\\nstart=" + std::to_string(kSecondStart) +
       ",size=" + std::to_string(kPartitionSectors) + ",type=7\\n' | sfdisk -q " + disk.image);
    Sh("dd if=" + dir + "/p1.img of=" + disk.image + " bs=512 seek=" + std::to_string(kFirstStart) +
       " conv=notrunc status=none && dd if=" + dir + "/p2.img of=" + disk.image +
       " bs=512 seek=" + std::to_string(kSecondStart) + " conv=notrunc status=none");
    return disk;
}

// A partition of a disk image, as a file of its own.
std::string Partition(const std::string& image, std::uint64_t start, const std::string& out) {
    Sh("dd if=" + image + " of=" + out + " bs=512 skip=" + std::to_string(start) +
       " count=" + std::to_string(kPartitionSectors) + " status=none");
    return out;
}

TEST_F(RescueBoot, OnTheBiosPartitionsAreBackedUpLostAndRestoredAndADiskIsWiped) {
    const PcDisk pc = MakePcDisk(dir_);
    const std::string other = dir_ + "/pc-b.img";
    Sh("head -c 8M /dev/urandom >" + other);
    extraQemuArgs_ =
        "-drive if=none,id=a,format=raw,file=" + pc.image +
        " -device ide-hd,drive=a,model=VORNEL-PC-A -drive if=none,id=b,format=raw,file=" + other +
        " -device ide-hd,drive=b,model=VORNEL-PC-B";
    StartEntry(Firmware::SeaBios, kRescueEntry);
    ExpectMenuOnSerialAndScreen("rescue-menu.png");
    ASSERT_FALSE(HasFatalFailure());

    // Every disk with its model, size, health and partitions; the stick marked as such.
    ASSERT_TRUE(Answer("1", kBackToMenu)) << Tail();
    std::smatch found;
    const std::string overview = Tail();
    ASSERT_TRUE(std::regex_search(overview, found, std::regex("磁盘 (sd[a-z])（VORNEL-PC-A，67.1 MB）")))
        << overview;
    const std::string disk = found[1];
    EXPECT_NE(overview.find("SMART 健康：良好"), std::string::npos) << overview;
    EXPECT_NE(overview.find("ntfs  “Windows”  25.2 MB"), std::string::npos) << overview;
    EXPECT_NE(overview.find("[本U盘]"), std::string::npos) << overview;

    // Pieces of 1 MiB from here on, so that every image is split and joined again.
    ASSERT_TRUE(Answer("", kPrompt));
    ASSERT_TRUE(Answer("7", kShell));
    ASSERT_TRUE(Answer("VORNEL_PIECE_SIZE=1M vornel-rescue", kPrompt)) << Tail();
    for (const char* fs : {"ext4", "ntfs"}) {
        ASSERT_TRUE(Answer("2", kPrompt)) << Tail();
        ASSERT_TRUE(Answer(ChoiceFor(fs), kBackToMenu)) << Tail();
        EXPECT_NE(Tail().find("备份完成"), std::string::npos) << Tail();
        ASSERT_TRUE(Answer("", kPrompt));
    }
    ASSERT_TRUE(Answer("7", kShell));
    ASSERT_TRUE(Answer("for p in 1 2; do dd if=/dev/zero of=/dev/" + disk +
                           "$p bs=1M 2>/dev/null; done; sync; echo zeroed-$((1+1))",
                       "zeroed-2"));
    ASSERT_TRUE(Answer("exit", kPrompt));
    for (const char* part : {"1", "2"}) {
        ASSERT_TRUE(Answer("3", kPrompt)) << Tail();
        ASSERT_TRUE(Answer(ChoiceFor(std::string("-") + disk + part + "-"), kPrompt)) << Tail();
        ASSERT_TRUE(Answer(ChoiceFor(disk + part + "  "), kConfirm)) << Tail();
        EXPECT_NE(Tail().find("在磁盘 " + disk + "（VORNEL-PC-A，67.1 MB）上"), std::string::npos) << Tail();
        ASSERT_TRUE(Answer("y", kBackToMenu)) << Tail();
        EXPECT_NE(Tail().find("校验通过"), std::string::npos) << Tail();
        ASSERT_TRUE(Answer("", kPrompt));
    }

    // The wipe lists the PC's disks, never the stick, and asks twice, naming the disk.
    ASSERT_TRUE(Answer("6", kPrompt)) << Tail();
    const std::string choices = Tail().substr(Tail().rfind("擦除哪块磁盘"));
    EXPECT_NE(choices.find("VORNEL-PC-A"), std::string::npos) << choices;
    EXPECT_EQ(choices.find("QEMU HARDDISK"), std::string::npos) << choices;
    ASSERT_TRUE(Answer(ChoiceFor("VORNEL-PC-B"), kConfirm)) << Tail();
    const std::string question = Tail();
    ASSERT_TRUE(std::regex_search(question, found, std::regex("将擦除磁盘 (sd[a-z])（VORNEL-PC-B，8.4 MB）")))
        << question;
    ASSERT_TRUE(Answer("y", kConfirm));
    ASSERT_TRUE(Answer(found[1], kBackToMenu)) << Tail();
    EXPECT_NE(Tail().find("擦除完成"), std::string::npos) << Tail();
    ASSERT_TRUE(Answer("", kPrompt));
    TypeOnSerial("9\r");
    EXPECT_EQ(Finish().exitCode, 0);

    // The files are back byte for byte; the other disk holds nothing but zeros.
    const std::string ext = Partition(pc.image, kFirstStart, dir_ + "/r1.img");
    const std::string ntfs = Partition(pc.image, kSecondStart, dir_ + "/r2.img");
    EXPECT_TRUE(RunShell("debugfs -R 'cat /photo.jpg' " + ext + " 2>/dev/null").first ==
                ReadWhole(pc.extFile));
    EXPECT_TRUE(RunShell("ntfscat " + ntfs + " report.doc").first == ReadWhole(pc.ntfsFile));
    const std::string wiped = ReadWhole(other);
    EXPECT_EQ(wiped.size(), 8u << 20);
    EXPECT_EQ(wiped.find_first_not_of('\0'), std::string::npos);

    // The split images stay on the stick's data partition (its first slot in USB-HDD mode).
    const auto [table, ok] = RunShell("sfdisk -d " + image_);
    ASSERT_TRUE(std::regex_search(table, found, std::regex("stick.img1 : start= *([0-9]+)")));
    const std::string listing =
        RunShell("MTOOLS_SKIP_CHECK=1 mdir -i " + image_ + "@@" +
                 std::to_string(std::stoull(found[1]) * 512) + " -/ -b ::/VornelBackup")
            .first;
    for (const std::string part : {"1-ext4/", "2-ntfs/"}) {
        for (const char* file : {"info.txt", "image.pcl.zst.000", "image.pcl.zst.002"}) {
            EXPECT_NE(listing.find(disk + part + file), std::string::npos) << part << file << "\n" << listing;
        }
    }
}

TEST_F(RescueBoot, OnUefiTheMenuIsOnTheScreenAndTheSerialLine) {
    StartEntry(Firmware::Ovmf, kRescueEntry);
    ExpectMenuOnSerialAndScreen();
    TypeOnSerial("9\r");
    EXPECT_EQ(Finish().exitCode, 0);
}

TEST_F(RescueBoot, UnderSecureBootMemtestSaysWhyItCannotStartAndTheRescueSystemStarts) {
    firmware_ = Firmware::OvmfSecureBoot;
    Start(600);
    ASSERT_GT(WaitForSerial(kLastTitle), 0) << "no boot menu\n" << Tail();
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the rest of the picture
    TakeScreen();
    SaveScreen("boot-menu.png");
    ChooseEntry(kMemtestEntry);
    ASSERT_GT(WaitForSerial("安全启动已开启：固件拒绝了这个程序"), 0) << Tail();
    const int drawn = CountOnSerial(kLastTitle);
    Keys({"esc"});
    ASSERT_GT(WaitForSerial(kLastTitle, drawn), 0) << "the menu did not come back\n" << Tail();
    ChooseEntry(kRescueEntry);
    ExpectMenuOnSerialAndScreen();
    TypeOnSerial("9\r");
    EXPECT_EQ(Finish().exitCode, 0);
}

TEST_F(RescueBoot, MemtestStartsOnTheBiosAndOnUefi) {
    for (const Firmware firmware : {Firmware::SeaBios, Firmware::Ovmf}) {
        StartEntry(firmware, kMemtestEntry);
        EXPECT_GT(WaitForSerial("Memtest86+"), 0) << Tail();
        Quit();
    }
}

} // namespace
} // namespace vornel::rescue
