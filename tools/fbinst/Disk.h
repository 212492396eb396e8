#pragma once
// The drive's bytes: a block device opened exclusively, or a disk image file that never grows.
// Every write is checked against the drive's size first and every failure is a Failure.

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

namespace vornel::fbinst {

class Disk {
  public:
    // Opens read-write (read-only when `writable` is false). A block device is opened O_EXCL and
    // must have 512-byte sectors; an image must be a regular file. Two runs of the tool on the
    // same image are kept apart by a lock.
    Disk(const std::string& path, bool isImageFile, bool writable = true);
    ~Disk();
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;

    const std::string& Path() const { return path_; }
    std::uint64_t Bytes() const { return bytes_; }
    std::uint64_t Sectors() const { return bytes_ / 512; }
    // The size now, in whole sectors: 0 when it cannot be read (a stick pulled out).
    std::uint64_t CurrentBytes() const;

    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void ZeroRange(std::uint64_t offset, std::uint64_t length);
    // Flushes written data to the medium; a failure means the data may be lost.
    void Sync();

  private:
    std::string path_;
    bool isImageFile_;
    int fd_ = -1;
    std::uint64_t bytes_ = 0;
};

// While it lives, a thread keeps flushing the drive through a descriptor of its own, so the
// medium is written while another program (mcopy) still writes, and the final flush has little
// left. Its failures are not reported here: the kernel reports a failed write to every descriptor
// opened before it, so a Disk opened before the copy sees it in Sync().
class EarlyWriteback {
  public:
    explicit EarlyWriteback(const std::string& path);
    ~EarlyWriteback();
    EarlyWriteback(const EarlyWriteback&) = delete;
    EarlyWriteback& operator=(const EarlyWriteback&) = delete;

  private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Flushes the drive's data to the medium after other programs wrote it; throws on failure, and
// when an image file's size is no longer `expectedBytes`.
void SyncDrive(const std::string& path, bool isImageFile, std::uint64_t expectedBytes);

} // namespace vornel::fbinst
