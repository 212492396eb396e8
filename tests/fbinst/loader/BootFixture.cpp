#include "fbinst/loader/BootFixture.h"

#include "fbinst/loader/Shell.h"
#include "loader/GrubText.h"
#include "loader/Loader.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vornel::fbinst::loader::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBootAreaStart = 16384; // 8 MiB: the primary area holds the core
constexpr std::uint64_t kBootAreaSectors = 40960;
constexpr std::uint64_t kDataStart = kBootAreaStart + kBootAreaSectors;
constexpr std::uint64_t kDataSectors = 81920;
constexpr std::uint64_t kImageBytes = (kDataStart + kDataSectors) * 512;

void WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file.good()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// mov al, VALUE; out 0xF4, al; hlt; jmp back to the hlt.
std::vector<std::uint8_t> PowerOffCode(int value) {
    return {0xB0, static_cast<std::uint8_t>(value), 0xE6, 0xF4, 0xF4, 0xEB, 0xFD};
}

} // namespace

void Sh(const std::string& command) {
    const auto [output, ok] = RunShell("set -e; " + command + " 2>&1");
    if (!ok) {
        throw std::runtime_error(command + "\n" + output);
    }
}

void SuiteImages::Make(const std::string& script) {
    char pattern[] = "/tmp/loader-images-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        output = "cannot make a folder in /tmp";
        return;
    }
    folder = pattern;
    const std::string log = folder + "/make.log";
    const int status = std::system(("sh " + std::string(std::getenv("VORNEL_SOURCE_DIR")) +
                                    "/tests/fbinst/loader/" + script + " " + folder + " >" + log + " 2>&1")
                                       .c_str());
    output = ReadWhole(log);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SuiteImages::Remove() const {
    if (!folder.empty()) {
        fs::remove_all(folder);
    }
}

void StickBoot::SetUp() {
    char pattern[] = "/tmp/loader-boot-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    image_ = dir_ + "/stick.img";
}

void StickBoot::TearDown() {
    if (monitor_ != nullptr) {
        fputs("quit\n", monitor_);
        pclose(monitor_);
    }
    EndSerial();
    fs::remove_all(dir_);
}

std::string StickBoot::WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string StickBoot::PowerOffFloppy() {
    const std::string path = dir_ + "/poweroff.img";
    Sh("mkfs.fat -C " + path + " 1440 >/dev/null");
    WriteAt(path, 0x3E, PowerOffCode(kFloppyExitValue)); // where the FAT boot sector jumps to
    return path;
}

std::string StickBoot::PowerOffIso() {
    const std::string tree = dir_ + "/iso";
    fs::create_directory(tree);
    std::string boot(2048, '\0');
    const auto code = PowerOffCode(kIsoExitValue);
    std::copy(code.begin(), code.end(), boot.begin());
    WriteFile("iso/boot.bin", boot);
    const std::string path = dir_ + "/poweroff.iso";
    Sh("xorriso -as mkisofs -quiet -b boot.bin -no-emul-boot -boot-load-size 4 -o " + path + " " + tree);
    return path;
}

std::string StickBoot::PowerOffEfiIso() {
    // GRUB for UEFI as the program, its embedded config writing to QEMU's debug-exit port.
    const std::string config =
        WriteFile("poweroff-efi.cfg", "outb 0xf4 " + std::to_string(kEfiExitValue) + "\nhalt\n");
    Sh("mkdir -p " + dir_ + "/efi-iso/EFI/BOOT");
    Sh("grub-mkimage -O x86_64-efi -p /none -c " + config + " -o " + dir_ +
       "/efi-iso/EFI/BOOT/BOOTX64.EFI iorw halt");
    const std::string path = dir_ + "/poweroff-efi.iso";
    Sh("xorriso -as mkisofs -quiet -o " + path + " " + dir_ + "/efi-iso");
    return path;
}

void StickBoot::MakeStick(int bootSlot, int dataSlot,
                          const std::vector<std::pair<std::string, std::string>>& files) {
    const auto text = [](std::uint64_t n) { return std::to_string(n); };
    Sh("truncate -s " + text(kImageBytes) + " " + image_);
    Sh("printf 'label: dos\\n" + text(dataSlot) + " : start=" + text(kDataStart) +
       ", size=" + text(kDataSectors) + ", type=c\\n" + text(bootSlot) + " : start=" + text(kBootAreaStart) +
       ", size=" + text(kBootAreaSectors) + ", type=1e, bootable\\n' | sfdisk -q " + image_);
    Sh("mkfs.fat --offset " + text(kBootAreaStart) + " " + image_ + " " + text(kBootAreaSectors / 2) +
       " >/dev/null");
    Sh("mkfs.fat -F 32 --offset " + text(kDataStart) + " " + image_ + " " + text(kDataSectors / 2) +
       " >/dev/null");
    WriteAt(image_, 0, MbrBootCode());
    WriteAt(image_, 512, CoreImage());
    const std::string area = "MTOOLS_SKIP_CHECK=1 %s -i " + image_ + "@@" + text(kBootAreaStart * 512) + " ";
    const auto mtool = [&](const std::string& tool) {
        return std::string(area).replace(area.find("%s"), 2, tool);
    };
    for (const auto& [name, source] : files) {
        const fs::path folder = fs::path(name).parent_path();
        if (!folder.empty()) {
            Sh(mtool("mmd") + "-D s ::/" + folder.string() + " || true"); // may exist already
        }
        Sh(mtool("mcopy") + "-o " + GrubQuote(source) + " ::/" + name);
    }
}

// OVMF runs on the q35 machine; Secure Boot needs its SMM build, locked flash and the variable
// store with Microsoft's keys enrolled (a fresh copy, as the firmware writes to it).
std::string StickBoot::FirmwareArgs() const {
    if (firmware_ == Firmware::SeaBios) {
        return "";
    }
    const bool secure = firmware_ == Firmware::OvmfSecureBoot;
    const std::string vars = dir_ + "/ovmf-vars.fd";
    Sh(std::string("cp /usr/share/OVMF/") + (secure ? "OVMF_VARS_4M.ms.fd " : "OVMF_VARS_4M.fd ") + vars);
    return std::string(secure ? "-machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on "
                              : "-machine q35 ") +
           "-drive if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/" +
           (secure ? "OVMF_CODE_4M.ms.fd" : "OVMF_CODE_4M.fd") +
           " -drive if=pflash,format=raw,unit=1,file=" + vars + " ";
}

std::string StickBoot::QemuCommand(int seconds, const std::string& monitor) const {
    const std::string serial = typedSerial_ ? "-chardev socket,id=serial,server=on,wait=on,path=" + dir_ +
                                                  "/serial.sock -serial chardev:serial"
                                            : "-serial file:" + dir_ + "/serial.log";
    return "timeout " + std::to_string(seconds) + " qemu-system-x86_64 " + FirmwareArgs() + "-m " +
           std::to_string(memoryMiB_) + " -display none -no-reboot " + serial + " -monitor " + monitor +
           " -device isa-debug-exit,iobase=0xf4,iosize=0x04 -device qemu-xhci -drive "
           "if=none,id=s,format=raw,file=" +
           image_ + " -device usb-storage,drive=s,bootindex=0 " + extraQemuArgs_ + " >/dev/null 2>&1";
}

std::string StickBoot::ScreenSizeOnceShown(const std::string& marker) {
    const std::string log = dir_ + "/serial.log";
    const std::string screen = dir_ + "/screen.ppm";
    fs::remove(log);
    // QEMU's monitor reads its commands from this pipe.
    FILE* monitor = popen(QemuCommand(60, "stdio").c_str(), "w");
    if (monitor == nullptr) {
        throw std::runtime_error("cannot start qemu");
    }
    bool shown = false;
    for (int tick = 0; tick < 250 && !shown; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        shown = ReadWhole(log).find(marker) != std::string::npos;
    }
    std::string size;
    if (shown) {
        std::this_thread::sleep_for(std::chrono::seconds(1)); // the rest of the menu
        fputs(("screendump " + screen + "\n").c_str(), monitor);
        fflush(monitor);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        // "P6\nW H\n255\n" then the pixels.
        std::istringstream header(ReadWhole(screen));
        std::string magic;
        int width = 0, height = 0;
        header >> magic >> width >> height;
        if (magic == "P6") {
            size = std::to_string(width) + "x" + std::to_string(height);
        }
    }
    fputs("quit\n", monitor);
    pclose(monitor);
    return size;
}

void StickBoot::Start(int seconds) {
    fs::remove(dir_ + "/serial.log");
    monitor_ = popen(QemuCommand(seconds, "stdio").c_str(), "w");
    if (monitor_ == nullptr) {
        throw std::runtime_error("cannot start qemu");
    }
    if (typedSerial_) {
        ConnectSerial();
    }
}

// QEMU listens once it has started; everything the machine sends is appended to serial.log
// until QEMU ends.
void StickBoot::ConnectSerial() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir_ + "/serial.sock";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    serial_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    for (int tick = 0; tick < 300; ++tick) {
        if (connect(serial_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            serialReader_ = std::thread([this] {
                std::ofstream log(dir_ + "/serial.log", std::ios::binary | std::ios::app);
                char buffer[4096];
                for (ssize_t n; (n = read(serial_, buffer, sizeof buffer)) > 0;) {
                    log.write(buffer, n).flush();
                }
            });
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("qemu's serial line did not open");
}

void StickBoot::EndSerial() {
    if (serialReader_.joinable()) {
        shutdown(serial_, SHUT_RDWR);
        serialReader_.join();
    }
    if (serial_ >= 0) {
        close(serial_);
        serial_ = -1;
    }
}

void StickBoot::TypeOnSerial(const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = write(serial_, text.data() + sent, text.size() - sent);
        if (n <= 0) {
            throw std::runtime_error("cannot type on the serial line");
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::string StickBoot::SerialSoFar() const {
    return ReadWhole(dir_ + "/serial.log");
}

int StickBoot::CountOnSerial(const std::string& marker) const {
    const std::string serial = SerialSoFar();
    int count = 0;
    for (auto at = serial.find(marker); at != std::string::npos;
         at = serial.find(marker, at + marker.size())) {
        ++count;
    }
    return count;
}

int StickBoot::WaitForSerial(const std::string& marker, int seenBefore, int seconds) {
    for (int tick = 0; tick < seconds * 5; ++tick) {
        if (const int count = CountOnSerial(marker); count > seenBefore) {
            return count;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 0;
}

void StickBoot::Keys(const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
        fputs(("sendkey " + key + "\n").c_str(), monitor_);
        fflush(monitor_);
        // A slow machine still sees every key, each one by itself.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
}

void StickBoot::ChooseEntry(int below) {
    std::vector<std::string> keys = {"home"};
    keys.insert(keys.end(), static_cast<std::size_t>(below), "down");
    keys.push_back("ret");
    Keys(keys);
}

double Screen::ShareOf(unsigned colour) const {
    std::size_t same = 0;
    for (std::size_t at = 0; at + 2 < rgb.size(); at += 3) {
        const unsigned pixel = static_cast<unsigned>(static_cast<std::uint8_t>(rgb[at])) << 16 |
                               static_cast<unsigned>(static_cast<std::uint8_t>(rgb[at + 1])) << 8 |
                               static_cast<std::uint8_t>(rgb[at + 2]);
        same += pixel == colour;
    }
    return rgb.empty() ? 0.0 : static_cast<double>(same) / static_cast<double>(rgb.size() / 3);
}

Screen StickBoot::TakeScreen() {
    const std::string path = dir_ + "/screen.ppm";
    fs::remove(path);
    fputs(("screendump " + path + "\n").c_str(), monitor_);
    fflush(monitor_);
    // "P6\nW H\n255\n" then the pixels; QEMU may still be writing them.
    Screen screen;
    for (int tick = 0; tick < 50; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::istringstream file(ReadWhole(path));
        std::string magic;
        int maximum = 0;
        file >> magic >> screen.width >> screen.height >> maximum;
        file.get();
        const auto bytes =
            static_cast<std::size_t>(screen.width) * static_cast<std::size_t>(screen.height) * 3;
        screen.rgb.assign(std::istreambuf_iterator<char>(file), {});
        if (magic == "P6" && bytes > 0 && screen.rgb.size() == bytes) {
            return screen;
        }
    }
    return {};
}

BootRun StickBoot::Finish() {
    const int status = pclose(monitor_);
    monitor_ = nullptr;
    EndSerial();
    BootRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.serial = ReadWhole(dir_ + "/serial.log");
    return run;
}

BootRun StickBoot::Quit() {
    fputs("quit\n", monitor_);
    return Finish();
}

BootRun StickBoot::Boot(int seconds) {
    fs::remove(dir_ + "/serial.log");
    const int status = std::system(QemuCommand(seconds, "none").c_str());
    BootRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.serial = ReadWhole(dir_ + "/serial.log");
    return run;
}

} // namespace vornel::fbinst::loader::test
