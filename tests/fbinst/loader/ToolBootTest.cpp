// Sticks made by the disk tool through the make and restore operations' command lines, then
// booted in QEMU: a made stick shows the menu and boots its custom image; a restored one does
// not reach the menu any more.

#include "fbinst/loader/ToolStick.h"
#include "loader/Loader.h"

#include <gtest/gtest.h>

namespace vornel::fbinst::loader {
namespace {

using namespace test;

TEST_F(ToolMadeStickBoot, UsbHddStickBootsItsFloppyImageAndTheRestoredStickDoesNot) {
    const std::string menu =
        MenuLst({"timeout 1", "default 1", "title 从本机硬盘启动", "rootnoverify (hd1)", "chainloader +1", "",
                 "title 自定义软盘", "map --mem (ud)/boot/customISO_0.img (fd0)", "map --hook",
                 "rootnoverify (fd0)", "chainloader +1"});
    Make(false, {{kMemdiskPath, kMemdisk},
                 {kFontPath, kFont},
                 {"boot/customISO_0.img", PowerOffFloppy()},
                 {"menu.lst", menu}});
    const BootRun made = Boot(60);
    EXPECT_EQ(made.exitCode, QemuExitCode(kFloppyExitValue)) << made.serial;
    EXPECT_NE(made.serial.find("自定义软盘"), std::string::npos) << made.serial;

    Tool("format -f -r");
    const BootRun restored = Boot(20);
    EXPECT_NE(restored.exitCode, QemuExitCode(kFloppyExitValue));
    EXPECT_EQ(restored.serial.find("自定义软盘"), std::string::npos) << restored.serial;
}

TEST_F(ToolMadeStickBoot, UsbZipStickBootsItsIsoImage) {
    const std::string menu =
        MenuLst({"timeout 1", "title 自定义光盘", "map --mem (ud)/boot/customISO_0.iso (0xFF)", "map --hook",
                 "chainloader (0xFF)"});
    Make(true, {{kMemdiskPath, kMemdisk}, {"boot/customISO_0.iso", PowerOffIso()}, {"menu.lst", menu}});
    const BootRun made = Boot(60);
    EXPECT_EQ(made.exitCode, QemuExitCode(kIsoExitValue)) << made.serial;
    EXPECT_NE(made.serial.find("自定义光盘"), std::string::npos) << made.serial;
}

} // namespace
} // namespace vornel::fbinst::loader
