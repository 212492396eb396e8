// Linux ISOs on a stick made by the disk tool, booted in QEMU: the menu's ISO entry starts the
// ISO's kernel the way the ISO supports (its loopback.cfg, or a known live layout), and the
// started system finds its ISO file on the stick again from the kernel command line. The ISOs
// hold Debian's kernel and a busybox system that prints the marker stored in the ISO it found.

#include "fbinst/loader/ToolStick.h"
#include "loader/Loader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace vornel::fbinst::loader {
namespace {

using namespace test;

// The firmware QEMU boots the stick with, by name.
struct NamedFirmware {
    const char* name;
    Firmware firmware;
};
constexpr NamedFirmware kLegacyBios{"LegacyBios", Firmware::SeaBios};
constexpr NamedFirmware kUefi{"Uefi", Firmware::Ovmf};

// A test ISO (its file is NAME.iso, its marker NAME) and the kernel parameter through which
// the started system must have been told where its ISO is.
struct LinuxIso {
    const char* name;
    const char* parameter;
};
constexpr LinuxIso kLoopbackCfg{"loopback", "findiso"}; // its loopback.cfg passes ${iso_path}
constexpr LinuxIso kDebianLive{"debian-live", "findiso"};
constexpr LinuxIso kCasper{"casper", "iso-scan/filename"};

// Test names and failure reports show the names, not the bytes.
void PrintTo(const NamedFirmware& firmware, std::ostream* out) {
    *out << firmware.name;
}
void PrintTo(const LinuxIso& iso, std::ostream* out) {
    *out << iso.name;
}

class LinuxIsoBoot : public ToolMadeStickBoot,
                     public ::testing::WithParamInterface<std::tuple<LinuxIso, NamedFirmware>> {
  protected:
    // The kernel is unpacked and the ISOs made once for all boots of this run.
    static void SetUpTestSuite() { isos_.Make("make-linux-test-isos.sh"); }
    static void TearDownTestSuite() { isos_.Remove(); }

    void SetUp() override {
        ToolMadeStickBoot::SetUp();
        if (isos_.exitCode == 77) {
            GTEST_SKIP() << "no Debian kernel to build the test ISOs from: " << isos_.output;
        }
        ASSERT_EQ(isos_.exitCode, 0) << isos_.output;
    }

    static inline SuiteImages isos_;
};

TEST_P(LinuxIsoBoot, TheStartedSystemFindsItsIsoOnTheStick) {
    const auto& [iso, firmware] = GetParam();
    // The lines the make operation writes for a custom ISO: they say nothing of its kind.
    const std::string menu =
        MenuLst({"timeout 1", "title 自定义光盘", "map --mem (ud)/boot/customISO_0.iso (0xFF)", "map --hook",
                 "chainloader (0xFF)"});
    MakeFromPackage(false, menu, {{"boot/customISO_0.iso", isos_.folder + "/" + iso.name + ".iso"}});
    firmware_ = firmware.firmware;
    const BootRun run = Boot(420);
    EXPECT_NE(run.serial.find("自定义光盘"), std::string::npos) << run.serial;
    EXPECT_NE(run.serial.find(std::string("VORNEL-ISO-FOUND ") + iso.parameter + " " + iso.name),
              std::string::npos)
        << run.serial;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs QEMU (its monitor on standard input) until the serial log ends the wait, or the command's
// own time-out; gives the serial log.
std::string BootUntil(const std::string& qemuCommand, const std::string& serialLog,
                      const std::function<bool(const std::string&)>& done) {
    std::filesystem::remove(serialLog);
    FILE* monitor = popen(qemuCommand.c_str(), "w");
    if (monitor == nullptr) {
        throw std::runtime_error("cannot start qemu");
    }
    std::string serial;
    for (int tick = 0; tick < 1500 && !done(serial = ReadWhole(serialLog)); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    fputs("quit\n", monitor);
    pclose(monitor);
    return serial;
}

// The ISO has a known layout, but its kernel is no kernel: the entry says so in Chinese and the
// menu comes back, rather than handing a Linux ISO to memdisk or stopping at GRUB's prompt.
TEST_F(ToolMadeStickBoot, AnIsoWhoseKernelCannotStartSaysSoAndTheMenuComesBack) {
    std::filesystem::create_directories(dir_ + "/broken/casper");
    WriteFile("broken/casper/vmlinuz", "not a kernel");
    WriteFile("broken/casper/initrd", "not an initrd");
    Sh("xorriso -as mkisofs -quiet -R -o " + dir_ + "/broken.iso " + dir_ + "/broken 2>/dev/null");
    const std::string menu =
        MenuLst({"timeout 1", "title 自定义光盘", "map --mem (ud)/boot/customISO_0.iso (0xFF)", "map --hook",
                 "chainloader (0xFF)"});
    Make(false,
         {{kMemdiskPath, kMemdisk}, {"boot/customISO_0.iso", dir_ + "/broken.iso"}, {"menu.lst", menu}});
    const std::string failed = "镜像中的 Linux 无法启动：文件可能已损坏，或内存不够。";
    const auto menuAgain = [&failed](const std::string& serial) {
        const auto said = serial.find(failed);
        return said != std::string::npos && serial.find("自定义光盘", said) != std::string::npos;
    };
    const std::string serial = BootUntil(QemuCommand(180, "stdio"), dir_ + "/serial.log", menuAgain);
    EXPECT_TRUE(menuAgain(serial)) << serial;
    EXPECT_NE(serial.find("按 Esc 键或等待 10 秒返回菜单。", serial.find(failed)), std::string::npos)
        << serial;
}

std::string TestName(const ::testing::TestParamInfo<LinuxIsoBoot::ParamType>& info) {
    std::string name = std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    std::erase(name, '-');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Layouts, LinuxIsoBoot,
                         ::testing::Combine(::testing::Values(kLoopbackCfg, kDebianLive, kCasper),
                                            ::testing::Values(kLegacyBios, kUefi)),
                         TestName);

} // namespace
} // namespace vornel::fbinst::loader
