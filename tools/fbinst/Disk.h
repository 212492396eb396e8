#pragma once
// The drive's bytes: a block device or a disk image file that never grows, opened once for a
// whole command. What was opened is checked, locked, and handed to the helper programs as it is,
// so no later change of the name can point a write elsewhere. Every write is checked against the
// drive's size first and every failure is a Failure.

#include "platform/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace vornel::fbinst {

class Disk {
  public:
    // Opens `path` without following a link there and checks the open object: an image must be a
    // regular file; a device a block device with 512-byte sectors whose number is the one sysfs
    // (under `sysfsRoot`) gives its name. Then locks it (flock) for the object's life, as systemd's
    // block-device locking protocol asks of a program that changes a disk: exclusively when
    // `writable`, so udev neither probes the disk nor announces it while the command works. A
    // lock held by another program (udev probing what the last command wrote) is waited for a
    // few seconds; one held by another run of this tool is refused at once. A Failure says which
    // program holds it.
    Disk(const std::string& path, bool isImageFile, bool writable = true,
         const std::string& sysfsRoot = "/sys");
    // A disk that udev watches is closed so that udev sees the writer's close while the lock
    // still holds: udev then announces a change, and does not re-read the partition table (only
    // format changes it, and it has the kernel read it itself). Desktops so see no partitions
    // vanish and come back after each command, which some would mount.
    ~Disk();
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;

    const std::string& Path() const { return path_; }
    bool IsImageFile() const { return isImageFile_; }
    // What the descriptor refers to (st_rdev for a device, st_dev and st_ino for an image).
    const struct stat& Identity() const { return identity_; }
    // The descriptor to hand to a helper program (see kChildDrivePath).
    int Descriptor() const { return fd_.Get(); }
    std::uint64_t Bytes() const { return bytes_; }
    std::uint64_t Sectors() const { return bytes_ / 512; }
    // The size now, in bytes rounded down to whole sectors: 0 when it cannot be read (a stick
    // pulled out).
    std::uint64_t CurrentBytes() const;
    // Throws unless the drive still has the size it had when opened.
    void CheckSize() const;

    // A block device is also claimed O_EXCL, so the system mounts nothing of it while the tool
    // works. `freeDrive` runs before each try (it unmounts what an automounter mounted since the
    // last command); the claim is tried again for a few seconds, then a Failure names what holds
    // the drive (the last failure of `freeDrive`, or the programs that have it open). Nothing to
    // do for an image.
    void ClaimExclusively(std::function<void()> freeDrive = {});
    // Runs `work` with that claim lifted, for a helper that claims the device itself (mkfs.fat),
    // then claims it again as above; the tool's lock keeps other runs of the tool out meanwhile.
    void WithoutExclusiveClaim(const std::function<void()>& work);
    // Has the system forget the partitions of a block device (best effort), so that nothing can
    // mount one while a new table and new file systems are written, even while mkfs.fat has the
    // claim. TellSystemNewTable gives it the new ones; a drive closed without that (a format
    // that failed) has the system read its table then.
    void ForgetPartitions();
    // Has the system read the new partition table of a block device (best effort).
    void TellSystemNewTable();

    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void ZeroRange(std::uint64_t offset, std::uint64_t length);
    // Flushes written data, the helper programs' included, to the medium; a failure means the
    // data may be lost.
    void Sync();

  private:
    void Lock();
    bool TryClaim();
    std::string WhatHolds() const;

    std::string path_;
    bool isImageFile_;
    bool writable_;
    // Declared first, so it is closed last: the lock, on a read-only descriptor of its own.
    platform::UniqueFd lockFd_;
    platform::UniqueFd fd_;
    platform::UniqueFd exclusiveFd_;
    std::function<void()> freeDrive_;
    std::string sysfsRoot_;
    struct stat identity_ {};
    std::uint64_t bytes_ = 0;
    bool partitionsForgotten_ = false;
};

// While it lives, a thread keeps flushing the drive through a descriptor of its own, so the
// medium is written while another program (mcopy) still writes, and the final flush has little
// left. Its failures are not reported here: the kernel reports a failed write to every open of
// the drive made before it, so the Disk's own Sync() sees it.
class EarlyWriteback {
  public:
    explicit EarlyWriteback(const Disk& disk);
    ~EarlyWriteback();
    EarlyWriteback(const EarlyWriteback&) = delete;
    EarlyWriteback& operator=(const EarlyWriteback&) = delete;

  private:
    platform::UniqueFd fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace vornel::fbinst
