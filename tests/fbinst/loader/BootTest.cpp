// Sticks booted for real in QEMU: the menu reaches the serial line and the default entry boots
// a custom image, which powers the machine off through QEMU's debug-exit port with a code of
// its own. Sticks are built by hand the way the disk tool lays them out, and by the tool.

#include "fbinst/loader/Shell.h"
#include "loader/Loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace vornel::fbinst::loader {
namespace {

namespace fs = std::filesystem;
using test::RunShell;

constexpr const char* kMemdisk = "/usr/lib/syslinux/memdisk";
constexpr const char* kFont = "/usr/share/grub/unicode.pf2";
// QEMU exits with (value << 1) | 1 for a byte written to the debug-exit port.
constexpr int kFloppyExitValue = 0x21;
constexpr int kIsoExitValue = 0x31;
constexpr int QemuExitCode(int value) {
    return (value << 1) | 1;
}
constexpr std::uint64_t kBootAreaStart = 16384; // 8 MiB: the primary area holds the core
constexpr std::uint64_t kBootAreaSectors = 40960;
constexpr std::uint64_t kDataStart = kBootAreaStart + kBootAreaSectors;
constexpr std::uint64_t kDataSectors = 81920;
constexpr std::uint64_t kImageBytes = (kDataStart + kDataSectors) * 512;

int ExitCodeOf(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

void Sh(const std::string& command) {
    const auto [output, ok] = RunShell("set -e; " + command + " 2>&1");
    ASSERT_TRUE(ok) << command << "\n" << output;
}

void WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

// mov al, VALUE; out 0xF4, al; hlt; jmp back to the hlt.
std::vector<std::uint8_t> PowerOffCode(int value) {
    return {0xB0, static_cast<std::uint8_t>(value), 0xE6, 0xF4, 0xF4, 0xEB, 0xFD};
}

struct BootRun {
    int exitCode = -1;
    std::string serial;
};

class StickBoot : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/loader-boot-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        image_ = dir_ + "/stick.img";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A FAT floppy whose boot sector code powers the machine off.
    std::string PowerOffFloppy() {
        const std::string path = dir_ + "/poweroff.img";
        Sh("mkfs.fat -C " + path + " 1440 >/dev/null");
        WriteAt(path, 0x3E, PowerOffCode(kFloppyExitValue)); // where the FAT boot sector jumps
        return path;
    }

    // An El Torito no-emulation ISO whose boot image powers the machine off.
    std::string PowerOffIso() {
        const std::string tree = dir_ + "/iso";
        fs::create_directory(tree);
        std::vector<std::uint8_t> boot(2048, 0);
        const auto code = PowerOffCode(kIsoExitValue);
        std::copy(code.begin(), code.end(), boot.begin());
        std::ofstream(tree + "/boot.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(boot.data()), static_cast<std::streamsize>(boot.size()));
        const std::string path = dir_ + "/poweroff.iso";
        Sh("xorriso -as mkisofs -quiet -b boot.bin -no-emul-boot -boot-load-size 4 -o " + path + " " + tree);
        return path;
    }

    // The tool's layout by hand: the loader before 8 MiB, the boot area (FAT) in `bootSlot`, the
    // FAT32 data partition in `dataSlot`; `files` go into the boot area.
    void MakeStick(int bootSlot, int dataSlot,
                   const std::vector<std::pair<std::string, std::string>>& files) {
        Sh("truncate -s " + std::to_string(kImageBytes) + " " + image_);
        Sh("printf 'label: dos\\n" + std::to_string(dataSlot) + " : start=" + std::to_string(kDataStart) +
           ", size=" + std::to_string(kDataSectors) + ", type=c\\n" + std::to_string(bootSlot) +
           " : start=" + std::to_string(kBootAreaStart) + ", size=" + std::to_string(kBootAreaSectors) +
           ", type=1e, bootable\\n' | sfdisk -q " + image_);
        Sh("mkfs.fat --offset " + std::to_string(kBootAreaStart) + " " + image_ + " " +
           std::to_string(kBootAreaSectors / 2) + " >/dev/null");
        Sh("mkfs.fat -F 32 --offset " + std::to_string(kDataStart) + " " + image_ + " " +
           std::to_string(kDataSectors / 2) + " >/dev/null");
        WriteAt(image_, 0, MbrBootCode());
        WriteAt(image_, 512, CoreImage());
        const std::string area = image_ + "@@" + std::to_string(kBootAreaStart * 512);
        for (const auto& [name, source] : files) {
            const fs::path folder = fs::path(name).parent_path();
            if (!folder.empty()) {
                Sh("MTOOLS_SKIP_CHECK=1 mmd -D s -i " + area + " ::/" + folder.string() + " || true");
            }
            Sh("MTOOLS_SKIP_CHECK=1 mcopy -o -i " + area + " " + Quoted(source) + " ::/" + name);
        }
    }

    std::string WriteConfig(const std::vector<std::string>& fbCfg, const std::vector<std::string>& menuLst) {
        const std::string path = dir_ + "/grub.cfg";
        std::ofstream(path, std::ios::binary) << TranslateMenus(fbCfg, menuLst);
        return path;
    }

    // Boots the image as a USB stick, at most `seconds` long.
    BootRun Boot(int seconds) {
        const std::string log = dir_ + "/serial.log";
        BootRun run;
        run.exitCode = ExitCodeOf("timeout " + std::to_string(seconds) +
                                  " qemu-system-x86_64 -m 256 -display none -no-reboot -serial file:" + log +
                                  " -device isa-debug-exit,iobase=0xf4,iosize=0x04 -device qemu-xhci"
                                  " -drive if=none,id=s,format=raw,file=" +
                                  image_ + " -device usb-storage,drive=s,bootindex=0 >/dev/null 2>&1");
        std::ifstream in(log, std::ios::binary);
        run.serial.assign(std::istreambuf_iterator<char>(in), {});
        return run;
    }

    std::string dir_;
    std::string image_;
};

const std::vector<std::string> kMakeFbCfg = {"default 0", "timeout 0", "menu F1 grldr grldr"};

TEST_F(StickBoot, UsbHddLayoutShowsTheChineseMenuAndBootsTheDefaultFloppyImage) {
    const std::string floppy = PowerOffFloppy();
    const std::string config = WriteConfig(kMakeFbCfg, {
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
               {"boot/customISO_0.img", floppy}});
    const BootRun run = Boot(60);
    EXPECT_EQ(run.exitCode, QemuExitCode(kFloppyExitValue)) << run.serial;
    EXPECT_NE(run.serial.find("从本机硬盘启动"), std::string::npos) << run.serial;
    EXPECT_NE(run.serial.find("关机软盘 PowerOff"), std::string::npos);
    EXPECT_NE(run.serial.find("重启"), std::string::npos);
}

TEST_F(StickBoot, BootAreaInSlotFourIsFoundAndBootsTheDefaultIsoImage) {
    const std::string iso = PowerOffIso();
    const std::string config = WriteConfig(kMakeFbCfg, {
                                                           "timeout 1",
                                                           "title ISO 光盘",
                                                           "map --mem (ud)/boot/customISO_0.iso (0xFF)",
                                                           "map --hook",
                                                           "chainloader (0xFF)",
                                                       });
    MakeStick(4, 1, {{kConfigPath, config}, {kMemdiskPath, kMemdisk}, {"boot/customISO_0.iso", iso}});
    const BootRun run = Boot(60);
    EXPECT_EQ(run.exitCode, QemuExitCode(kIsoExitValue)) << run.serial;
    EXPECT_NE(run.serial.find("ISO 光盘"), std::string::npos) << run.serial;
}

} // namespace
} // namespace vornel::fbinst::loader
