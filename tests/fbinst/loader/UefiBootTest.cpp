// Sticks made by the disk tool from the built package, booted on UEFI with and without Secure
// Boot and on the PC BIOS: the same Chinese menu everywhere, each entry doing what the firmware
// allows, and nothing left to boot after a restore. Entries are chosen with keys, as a user would.

#include "fbinst/loader/ToolStick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vornel::fbinst::loader {
namespace {

using namespace test;

constexpr const char* kBiosOnly = "此项只能在传统BIOS模式下启动";
constexpr const char* kLastTitle = "关闭计算机";
constexpr unsigned kThemeBlue = 0x1660BA; // the theme's desktop-color

class UefiStickBoot : public ToolMadeStickBoot {
  protected:
    // Local disk, floppy, UEFI ISO, power-off: the first entry is chosen only by a key.
    void MakeWithCustomItems(bool zipMode) {
        const std::string menu =
            MenuLst({"timeout 60", "default 0", "title 【1】从本地硬盘启动", "rootnoverify (hd1)",
                     "chainloader +1", "", "title 自定义软盘", "map --mem (ud)/boot/customISO_0.img (fd0)",
                     "map --hook", "rootnoverify (fd0)", "chainloader +1", "", "title 自定义UEFI光盘",
                     "map --mem (ud)/boot/customISO_1.iso (0xFF)", "map --hook", "chainloader (0xFF)", "",
                     std::string("title ") + kLastTitle, "halt"});
        MakeFromPackage(
            zipMode, menu,
            {{"boot/customISO_0.img", PowerOffFloppy()}, {"boot/customISO_1.iso", PowerOffEfiIso()}});
    }

    // The menu on the graphical screen in the theme's look (mostly its blue), while the serial
    // line has the text menu. The theme shows only once the Chinese font has loaded.
    void ExpectThemedScreen() {
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the rest of the picture
        const Screen screen = TakeScreen();
        EXPECT_GE(screen.width, 640);
        EXPECT_GE(screen.height, 480);
        EXPECT_GT(screen.ShareOf(kThemeBlue), 0.5);
    }

    void ChooseExpectingMessage(int below, const std::string& message) {
        ToolMadeStickBoot::ChooseExpectingMessage(below, message, kLastTitle);
    }
};

TEST_F(UefiStickBoot, UsbHddStickBootsOnUefiAndBiosAndTheRestoredStickOnNeither) {
    MakeWithCustomItems(false);

    firmware_ = Firmware::Ovmf;
    Start(300);
    ASSERT_GT(WaitForSerial(kLastTitle), 0) << "no menu on UEFI";
    ExpectThemedScreen();
    ChooseExpectingMessage(1, kBiosOnly);
    ChooseEntry(2);
    const BootRun uefi = Finish();
    EXPECT_EQ(uefi.exitCode, QemuExitCode(kEfiExitValue)) << uefi.serial;
    EXPECT_EQ(uefi.serial.find("错误"), std::string::npos) << uefi.serial; // GRUB's "error:" in Chinese

    firmware_ = Firmware::SeaBios;
    Start(240);
    ASSERT_GT(WaitForSerial(kLastTitle), 0) << "no menu on the BIOS";
    ExpectThemedScreen();
    ChooseExpectingMessage(0, "这台电脑没有磁盘 (hd1)"); // the PC has no second disk
    ChooseEntry(1);
    const BootRun bios = Finish();
    EXPECT_EQ(bios.exitCode, QemuExitCode(kFloppyExitValue)) << bios.serial;
    EXPECT_EQ(bios.serial.find("错误"), std::string::npos) << bios.serial;

    Tool("format -f -r");
    firmware_ = Firmware::Ovmf;
    const BootRun restored = Boot(60);
    EXPECT_EQ(restored.serial.find(kLastTitle), std::string::npos) << restored.serial;
    EXPECT_NE(restored.exitCode, QemuExitCode(kEfiExitValue));
}

TEST_F(UefiStickBoot, UsbZipStickUnderSecureBootShowsTheMenuAndRefusesAnUnsignedProgram) {
    MakeWithCustomItems(true);
    firmware_ = Firmware::OvmfSecureBoot;
    Start(300);
    ASSERT_GT(WaitForSerial(kLastTitle), 0) << "no menu under Secure Boot";
    ExpectThemedScreen();
    ChooseExpectingMessage(2, "安全启动已开启");
    ChooseEntry(3); // power off
    const BootRun run = Finish();
    EXPECT_EQ(run.exitCode, 0) << run.serial;
}

} // namespace
} // namespace vornel::fbinst::loader
