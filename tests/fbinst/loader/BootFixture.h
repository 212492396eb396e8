#pragma once
// Booting stick images in QEMU for the loader's tests: custom images that power the machine off
// with a code of their own through QEMU's debug-exit port, sticks laid out by hand the way the
// disk tool lays them out, and a bounded boot with the serial line captured.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vornel::fbinst::loader::test {

inline constexpr const char* kMemdisk = "/usr/lib/syslinux/memdisk";
inline constexpr const char* kFont = "/usr/share/grub/unicode.pf2";
inline constexpr int kFloppyExitValue = 0x21;
inline constexpr int kIsoExitValue = 0x31;
inline constexpr int kEfiExitValue = 0x41;
// QEMU exits with (value << 1) | 1 for a byte written to the debug-exit port.
constexpr int QemuExitCode(int value) {
    return (value << 1) | 1;
}

// Runs a shell command; throws with its output when it fails, which ends the test.
void Sh(const std::string& command);

enum class Firmware { SeaBios, Ovmf, OvmfSecureBoot }; // Secure Boot with Microsoft's keys

// The screen of a running boot: its size in pixels and its RGB bytes.
struct Screen {
    int width = 0;
    int height = 0;
    std::string rgb;
    // The share of pixels that have exactly this colour (0xRRGGBB).
    double ShareOf(unsigned colour) const;
};

struct BootRun {
    int exitCode = -1; // 124 when the time-out ended it
    std::string serial;
};

// Images a suite makes once, with a script of this folder (SCRIPT OUTPUT_FOLDER), for all its
// boots: the folder they are in, and the script's output and exit code (77 when what it needs is
// not on this machine).
struct SuiteImages {
    std::string folder;
    std::string output;
    int exitCode = -1;

    void Make(const std::string& script);
    void Remove() const;
};

class StickBoot : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string WriteFile(const std::string& name, const std::string& bytes);
    // A FAT floppy whose boot sector powers the machine off.
    std::string PowerOffFloppy();
    // An El Torito no-emulation ISO whose boot image powers the machine off.
    std::string PowerOffIso();
    // An ISO holding a UEFI program (unsigned) at EFI/BOOT/BOOTX64.EFI that powers it off.
    std::string PowerOffEfiIso();
    // The tool's layout by hand: the loader before 8 MiB, the boot area (FAT) in `bootSlot` from
    // 8 MiB, the FAT32 data partition in `dataSlot`; `files` (name in the area, source) go into
    // the boot area.
    void MakeStick(int bootSlot, int dataSlot, const std::vector<std::pair<std::string, std::string>>& files);
    // Boots image_ as a USB stick, at most `seconds` long.
    BootRun Boot(int seconds);
    // Boots image_, waits until `marker` shows on the serial line, and gives the screen's size
    // in pixels at that moment ("720x400" is VGA text mode), or "" when it never showed.
    std::string ScreenSizeOnceShown(const std::string& marker);

    // A boot to steer through the menu: started, then watched on the serial line and given
    // keys (QEMU's key names) through QEMU's monitor, then awaited.
    void Start(int seconds);
    // Waits until `marker` shows on the serial line more than `seenBefore` times; gives how
    // often it shows then (0 when the time-out came first).
    int WaitForSerial(const std::string& marker, int seenBefore = 0, int seconds = 180);
    int CountOnSerial(const std::string& marker) const;
    std::string SerialSoFar() const;
    void Keys(const std::vector<std::string>& keys);
    // Chooses the menu entry `below` rows under the first, once the menu is on screen.
    void ChooseEntry(int below);
    // Types on the serial line of a boot started with typedSerial_ set.
    void TypeOnSerial(const std::string& text);
    // The screen, also left as a picture in dir_/screen.ppm.
    Screen TakeScreen();
    BootRun Finish();
    // Ends the started boot at once.
    BootRun Quit();

    // QEMU booting image_ as a USB stick, its serial line into dir_/serial.log.
    std::string QemuCommand(int seconds, const std::string& monitor) const;

    std::string dir_;
    std::string image_;
    std::string extraQemuArgs_; // more devices, such as an internal disk
    Firmware firmware_ = Firmware::SeaBios;
    int memoryMiB_ = 512;
    // For Start(): the serial line takes input as well. QEMU's end is then a Unix socket, which
    // the fixture reads into serial.log; QEMU waits for it before the machine runs.
    bool typedSerial_ = false;

  private:
    std::string FirmwareArgs() const;
    void ConnectSerial();
    void EndSerial();
    FILE* monitor_ = nullptr; // the started boot's monitor, fed through a pipe
    int serial_ = -1;         // the typed serial line's socket
    std::thread serialReader_;
};

} // namespace vornel::fbinst::loader::test
