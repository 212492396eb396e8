#pragma once
// A throw-away sysfs, /dev and udev tree for the drive queries, with disks added and pulled
// the way the kernel shows them, and FAT images made with mkfs.fat for libblkid to read.

#include "platform/Drives.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace vornel::testing {

struct FakeDisk {
    std::string name;          // "sdb", "mmcblk0"
    bool removableFlag = true; // sysfs "removable"
    bool onUsb = true;         // the device path runs through a USB controller
    std::int64_t sectors = 0;  // sysfs "size"; 0: no medium
    std::string device;        // "8:16"; udev data is looked up by it
    std::string sysfsVendor;   // device/vendor, padded as SCSI pads it; empty: no file
    std::string sysfsModel;    // device/model; empty: no file
    std::string udevVendor;    // E:ID_VENDOR; empty: no udev data
    std::string udevModel;     // E:ID_MODEL
    std::string cardType;      // device/type of an MMC disk ("SD", "MMC"); empty: no file
};

class FakeDriveTree {
  public:
    FakeDriveTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vornel-drives-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        std::filesystem::create_directories(root_ / "sys/block");
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::create_directories(root_ / "udev");
    }
    ~FakeDriveTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeDriveTree(const FakeDriveTree&) = delete;
    FakeDriveTree& operator=(const FakeDriveTree&) = delete;

    platform::LinuxDriveSources Sources(const std::string& imageDrives = "") const {
        platform::LinuxDriveSources sources;
        sources.sysfsRoot = (root_ / "sys").string();
        sources.devRoot = (root_ / "dev").string();
        sources.udevDataRoot = (root_ / "udev").string();
        sources.mountInfo = (root_ / "mountinfo").string();
        sources.imageDrives = imageDrives;
        return sources;
    }

    const std::filesystem::path& Root() const { return root_; }

    // The disk's folder under /sys/devices, /sys/block/<name> linking to it, and its /dev node
    // as an empty regular file (FormatFat puts a file system there).
    void Add(const FakeDisk& disk) {
        // Each disk gets its own device folder below the controller.
        const std::string bus = (disk.onUsb ? "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host-"
                                            : "pci0000:00/0000:00:17.0/ata1/host-") +
                                disk.name + "/target";
        const std::filesystem::path deviceFolder = root_ / "sys/devices" / bus;
        const std::filesystem::path diskFolder = deviceFolder / "block" / disk.name;
        std::filesystem::create_directories(diskFolder);
        std::filesystem::create_directory_symlink(
            std::filesystem::path("../devices") / bus / "block" / disk.name, root_ / "sys/block" / disk.name);
        Write(diskFolder / "removable", disk.removableFlag ? "1\n" : "0\n");
        Write(diskFolder / "size", std::to_string(disk.sectors) + "\n");
        if (!disk.device.empty())
            Write(diskFolder / "dev", disk.device + "\n");
        std::filesystem::create_directory_symlink("../..", diskFolder / "device");
        if (!disk.sysfsVendor.empty())
            Write(deviceFolder / "vendor", disk.sysfsVendor + "\n");
        if (!disk.sysfsModel.empty())
            Write(deviceFolder / "model", disk.sysfsModel + "\n");
        if (!disk.cardType.empty())
            Write(deviceFolder / "type", disk.cardType + "\n");
        if (!disk.udevVendor.empty() || !disk.udevModel.empty())
            Write(root_ / "udev" / ("b" + disk.device),
                  "S:disk/by-id/usb-x\nE:ID_BUS=usb\nE:ID_VENDOR=" + disk.udevVendor +
                      "\nE:ID_MODEL=" + disk.udevModel + "\nE:ID_TYPE=disk\n");
        Write(root_ / "dev" / disk.name, "");
    }

    // A device-mapper (or md) device stacked on the partition or disk `lower` ("sdb/sdb1").
    void AddHolder(const std::string& lower, const std::string& name, const std::string& device) {
        std::filesystem::create_directories(root_ / "sys/block" / lower / "holders" / name);
        std::filesystem::create_directories(root_ / "sys/block" / name);
        Write(root_ / "sys/block" / name / "dev", device + "\n");
    }

    // One mountinfo line per mount: the device number and where it is mounted.
    void Mount(const std::string& device, const std::string& mountPoint) {
        std::ofstream out(root_ / "mountinfo", std::ios::app);
        out << ++mounts_ << " 1 " << device << " / " << mountPoint
            << " rw,relatime shared:1 - ext4 /dev/x rw\n";
    }

    // A partition folder of an added disk and, when `udevLines` is not empty, its udev data.
    void AddPartition(const std::string& disk, const std::string& name, int number, const std::string& device,
                      const std::string& udevLines = "") {
        const std::filesystem::path folder = root_ / "sys/block" / disk / name;
        std::filesystem::create_directories(folder);
        Write(folder / "partition", std::to_string(number) + "\n");
        Write(folder / "dev", device + "\n");
        if (!udevLines.empty())
            Write(root_ / "udev" / ("b" + device), udevLines);
    }

    // What the kernel shows after the device is pulled out.
    void Pull(const std::string& name) {
        std::filesystem::remove(root_ / "sys/block" / name);
        std::filesystem::remove(root_ / "dev" / name);
    }

    std::string DevNode(const std::string& name) const { return (root_ / "dev" / name).string(); }

    // A FAT file system of `kib` KiB with the label; an empty label makes one without.
    static void FormatFat(const std::string& path, const std::string& label, int kib = 1024) {
        std::filesystem::remove(path);
        std::string command = "mkfs.fat -C " + std::string(label.empty() ? "" : "-n " + label + " ") + "'" +
                              path + "' " + std::to_string(kib) + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("mkfs.fat failed: " + command);
    }

    // A 4 MiB disk image with an MBR whose first partition (from sector 2048) holds a FAT
    // file system with the label.
    static void FormatPartitionedFat(const std::string& path, const std::string& label) {
        std::filesystem::remove(path);
        std::string command = "truncate -s 4M '" + path + "' && echo 'start=2048, type=c' | sfdisk -q '" +
                              path + "' >/dev/null 2>&1 && mkfs.fat --offset 2048 -n " + label + " '" + path +
                              "' 2048 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("making a partitioned image failed: " + command);
    }

    static void Write(const std::filesystem::path& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }

  private:
    std::filesystem::path root_;
    int mounts_ = 0;
};

// A USB stick as the kernel shows it.
inline FakeDisk UsbStick(const std::string& name, const std::string& device,
                         std::int64_t sectors = 15625000) {
    FakeDisk disk;
    disk.name = name;
    disk.sectors = sectors;
    disk.device = device;
    disk.sysfsVendor = "Generic ";
    disk.sysfsModel = "Flash Disk      ";
    return disk;
}

} // namespace vornel::testing
