// Images nobody here made, as custom items of a made stick, booted on UEFI with 2 GiB of memory:
// memtest86+'s and iPXE's ISOs reach their own screens, a Linux ISO of more than 1 GiB boots,
// and the local-disk entry starts the PC's own boot manager from the EFI system partition of
// another disk. Under Secure Boot the unsigned ones are refused, each with its true reason.

#include "fbinst/loader/Shell.h"
#include "fbinst/loader/ToolStick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vornel::fbinst::loader {
namespace {

using namespace test;

constexpr const char* kLastTitle = "关闭计算机";
constexpr const char* kBackFromProgram = "启动程序已退出。";
constexpr const char* kRefused = "安全启动已开启：固件拒绝了";
constexpr const char* kLargeIsoBooted = "VORNEL-ISO-FOUND findiso loopback";

class RealImageStickBoot : public ToolMadeStickBoot {
  protected:
    static void SetUpTestSuite() { images_.Make("make-uefi-test-images.sh"); }
    static void TearDownTestSuite() { images_.Remove(); }

    // Local disk, memtest86+, iPXE, the large ISO, the ISO whose kernel is no kernel, power-off.
    void SetUp() override {
        ToolMadeStickBoot::SetUp();
        if (images_.exitCode == 77) {
            GTEST_SKIP() << "no images to boot: " << images_.output;
        }
        ASSERT_EQ(images_.exitCode, 0) << images_.output;
        std::vector<std::string> lines = {"timeout 60", "title 【1】从本地硬盘启动", "rootnoverify (hd1)",
                                          "chainloader +1"};
        std::vector<std::pair<std::string, std::string>> isos;
        for (const char* name : {"memtest86", "ipxe", "large", "bad-kernel"}) {
            const std::string file = "boot/customISO_" + std::to_string(isos.size()) + ".iso";
            lines.insert(lines.end(), {std::string("title ") + name, "map --mem (ud)/" + file + " (0xFF)",
                                       "map --hook", "chainloader (0xFF)"});
            isos.emplace_back(file, images_.folder + "/" + name + ".iso");
        }
        lines.insert(lines.end(), {std::string("title ") + kLastTitle, "halt"});
        MakeFromPackage(false, MenuLst(lines), isos);
        Sh("fallocate --dig-holes " + image_); // the large ISO's tail: zeros written, space given back
        memoryMiB_ = 2048;
        // The PC's own disk, in the firmware's boot order after the stick; no network to boot from.
        Sh("cp --sparse=always " + images_.folder + "/disk.img " + dir_ + "/disk.img");
        extraQemuArgs_ = "-drive if=none,id=disk,format=raw,file=" + dir_ +
                         "/disk.img -device virtio-blk-pci,drive=disk,bootindex=1 -nic none";
    }

    void StartAtMenu(Firmware firmware) {
        firmware_ = firmware;
        Start(400);
        ASSERT_GT(WaitForSerial(kLastTitle), 0) << "no menu\n" << SerialSoFar();
    }

    // The entry's program or system prints `marker`, returns, and the menu comes back.
    void ExpectStartedAndBack(int entry, const std::string& marker) {
        ChooseExpectingMessage(entry, kBackFromProgram, kLastTitle);
        EXPECT_NE(SerialSoFar().find(marker), std::string::npos) << marker << "\n" << SerialSoFar();
    }

    // The text on the screen, read by OCR (the screen doubled in size, which it reads better).
    std::string ScreenText() {
        if (TakeScreen().rgb.empty()) {
            return "";
        }
        Sh("convert " + dir_ + "/screen.ppm -scale 200% " + dir_ + "/screen.png");
        return RunShell("tesseract " + dir_ + "/screen.png - 2>/dev/null").first;
    }

    static inline SuiteImages images_;
};

TEST_F(RealImageStickBoot, OnUefiEachStartsAndTheMenuHelpIsChinese) {
    ASSERT_NO_FATAL_FAILURE(StartAtMenu(Firmware::Ovmf));
    // GRUB's text menu on the serial line, its help from the stick's catalogue.
    const std::string menu = SerialSoFar();
    EXPECT_NE(menu.find("键选择要高亮显示的启动项"), std::string::npos) << menu;
    for (const char* english : {"Use the", "Press enter", "to edit the commands", "ESC to return"}) {
        EXPECT_EQ(menu.find(english), std::string::npos) << english;
    }
    // The disk's Windows Boot Manager goes before the other system's boot manager beside it.
    ASSERT_NO_FATAL_FAILURE(ExpectStartedAndBack(0, "VORNEL-UNSIGNED-BOOT-MANAGER"));
    // iPXE, from the El Torito image inside its ISO, shows itself on the screen (through the
    // firmware's console), finds no network and returns.
    const int back = CountOnSerial(kBackFromProgram);
    ChooseEntry(2);
    ASSERT_GT(WaitForSerial("Features:"), 0) << SerialSoFar();
    const std::string ipxe = ScreenText();
    EXPECT_NE(ipxe.find("Network Boot Firmware"), std::string::npos) << ipxe;
    ASSERT_NO_FATAL_FAILURE(ExpectMessageThenMenu(kBackFromProgram, back, kLastTitle));
    ChooseEntry(3);
    EXPECT_GT(WaitForSerial(kLargeIsoBooted, 0, 300), 0) << SerialSoFar();
    Finish();

    ASSERT_NO_FATAL_FAILURE(StartAtMenu(Firmware::Ovmf));
    ChooseEntry(1);
    std::string screen;
    for (int tries = 0; tries < 30 && screen.find("Memtest86+") == std::string::npos; ++tries) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        screen = ScreenText();
    }
    EXPECT_NE(screen.find("Memtest86+"), std::string::npos) << screen << SerialSoFar();
}

TEST_F(RealImageStickBoot, UnderSecureBootOnlySignedOnesStartAndEachRefusalSaysWhy) {
    ASSERT_NO_FATAL_FAILURE(StartAtMenu(Firmware::OvmfSecureBoot));
    for (int unsignedProgram : {1, 2}) {
        ASSERT_NO_FATAL_FAILURE(ChooseExpectingMessage(
            unsignedProgram, std::string(kRefused) + "这个镜像的UEFI启动程序，因为它没有受信任的签名。",
            kLastTitle));
    }
    ASSERT_NO_FATAL_FAILURE(ChooseExpectingMessage(
        4, std::string(kRefused) + "镜像中的 Linux 内核，因为它没有受信任的签名。", kLastTitle));
    ChooseEntry(3);
    EXPECT_GT(WaitForSerial(kLargeIsoBooted, 0, 300), 0) << SerialSoFar();
    Finish();

    // The unsigned stand-in for Windows Boot Manager is refused; the other system's shim starts.
    ASSERT_NO_FATAL_FAILURE(StartAtMenu(Firmware::OvmfSecureBoot));
    ChooseEntry(0);
    EXPECT_GT(WaitForSerial("VORNEL-SIGNED-BOOT-MANAGER"), 0) << SerialSoFar();
    const BootRun run = Finish();
    EXPECT_NE(run.serial.find("shim 签名"), std::string::npos) << run.serial; // GRUB's "bad shim signature"
}

} // namespace
} // namespace vornel::fbinst::loader
