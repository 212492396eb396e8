// Hand-made sticks booted in QEMU: the menu reaches the serial line in Chinese, and the default
// entry boots a custom image from memory, which powers the machine off with its own code.

#include "fbinst/loader/BootFixture.h"
#include "loader/Loader.h"

#include <gtest/gtest.h>

namespace vornel::fbinst::loader {
namespace {

using namespace test;

const std::vector<std::string> kMakeFbCfg = {"default 0", "timeout 0", "menu F1 grldr grldr"};

class HandMadeStickBoot : public StickBoot {
  protected:
    std::string Config(const std::vector<std::string>& menuLst) {
        return WriteFile("grub.cfg", TranslateMenus(kMakeFbCfg, menuLst));
    }
};

TEST_F(HandMadeStickBoot, UsbHddLayoutShowsTheChineseMenuAndBootsTheDefaultFloppyImage) {
    const std::string config = Config({
        "timeout 2",
        "default 1",
        "title 从本机硬盘启动",
        "rootnoverify (hd1)",
        "chainloader +1",
        "title 关机软盘 PowerOff",
        "map --mem (ud)/boot/customISO_0.img (fd0)",
        "map --hook",
        "rootnoverify (fd0)",
        "chainloader +1",
        "title 重启",
        "reboot",
    });
    MakeStick(2, 1,
              {{kConfigPath, config},
               {kMemdiskPath, kMemdisk},
               {kFontPath, kFont},
               {"boot/customISO_0.img", PowerOffFloppy()}});
    const BootRun run = Boot(60);
    EXPECT_EQ(run.exitCode, QemuExitCode(kFloppyExitValue)) << run.serial;
    EXPECT_NE(run.serial.find("从本机硬盘启动"), std::string::npos) << run.serial;
    EXPECT_NE(run.serial.find("关机软盘 PowerOff"), std::string::npos);
    EXPECT_NE(run.serial.find("重启"), std::string::npos);
}

TEST_F(HandMadeStickBoot, TheUnicodeFontPutsTheMenuOnTheGraphicalScreen) {
    // Chinese titles need the font on the graphical terminal; VGA text mode (720x400) cannot
    // show them. Without the font the loader stays in text mode, with it it switches.
    const std::string config = Config({"timeout 30", "title 重启电脑", "reboot"});
    MakeStick(2, 1, {{kConfigPath, config}});
    EXPECT_EQ(ScreenSizeOnceShown("重启电脑"), "720x400");
    MakeStick(2, 1, {{kConfigPath, config}, {kFontPath, kFont}});
    const std::string size = ScreenSizeOnceShown("重启电脑");
    EXPECT_NE(size, "720x400");
    EXPECT_NE(size, "");
}

TEST_F(HandMadeStickBoot, BootAreaInSlotFourIsFoundAndBootsTheDefaultIsoImage) {
    const std::string config = Config({
        "timeout 1",
        "title ISO 光盘",
        "map --mem (ud)/boot/customISO_0.iso (0xFF)",
        "map --hook",
        "chainloader (0xFF)",
    });
    MakeStick(4, 1,
              {{kConfigPath, config}, {kMemdiskPath, kMemdisk}, {"boot/customISO_0.iso", PowerOffIso()}});
    const BootRun run = Boot(60);
    EXPECT_EQ(run.exitCode, QemuExitCode(kIsoExitValue)) << run.serial;
    EXPECT_NE(run.serial.find("ISO 光盘"), std::string::npos) << run.serial;
}

TEST_F(HandMadeStickBoot, TheLocalDiskEntryBootsTheSecondBiosDisk) {
    // The booted stick is BIOS disk 0x80 (hd0); the machine's own disk follows as hd1.
    constexpr int kDiskExitValue = 0x51;
    std::string mbr = {'\xB0', static_cast<char>(kDiskExitValue), '\xE6', '\xF4', '\xF4', '\xEB', '\xFD'};
    mbr.resize(510, '\0');
    mbr += "\x55\xAA";
    const std::string disk = WriteFile("disk.img", mbr + std::string(1 << 20, '\0'));
    extraQemuArgs_ = "-drive if=ide,format=raw,file=" + disk;
    const std::string config =
        Config({"timeout 1", "title 从本机硬盘启动", "rootnoverify (hd1)", "chainloader +1"});
    MakeStick(2, 1, {{kConfigPath, config}});
    const BootRun run = Boot(60);
    EXPECT_EQ(run.exitCode, QemuExitCode(kDiskExitValue)) << run.serial;
}

TEST_F(HandMadeStickBoot, AGrldrInTheBootAreaIsHandedOverToTheWayNtldrIsStarted) {
    // A stand-in with the power-off code: GRUB loads it at 2000:0 and jumps to it, as a FAT boot
    // sector starts NTLDR or grldr.
    constexpr int kGrldrExitValue = 0x41;
    const std::string grldr = WriteFile("grldr", std::string{'\xB0', static_cast<char>(kGrldrExitValue),
                                                             '\xE6', '\xF4', '\xF4', '\xEB', '\xFD'});
    const std::string config = Config({"timeout 1", "title 重启", "reboot"});
    MakeStick(2, 1, {{kConfigPath, config}, {"grldr", grldr}});
    const BootRun run = Boot(60);
    EXPECT_EQ(run.exitCode, QemuExitCode(kGrldrExitValue)) << run.serial;
}

} // namespace
} // namespace vornel::fbinst::loader
