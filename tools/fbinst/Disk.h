#pragma once
// The drive's bytes: a block device opened exclusively, or a disk image file that never grows.
// Every write is checked against the drive's size first and every failure is a Failure.

#include <cstdint>
#include <span>
#include <string>

namespace vornel::fbinst {

// A read-only view of bytes of a file or device, unmapped at destruction.
class MappedBytes {
  public:
    MappedBytes(int fd, std::uint64_t offset, std::uint64_t length, const std::string& what);
    ~MappedBytes();
    MappedBytes(const MappedBytes&) = delete;
    MappedBytes& operator=(const MappedBytes&) = delete;
    std::span<const std::uint8_t> Bytes() const { return {base_ + lead_, length_}; }

  private:
    const std::uint8_t* base_ = nullptr;
    std::size_t lead_ = 0; // from the page boundary to the first wanted byte
    std::size_t length_ = 0;
};

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

    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void ZeroRange(std::uint64_t offset, std::uint64_t length);
    // Reading without a copy, for long comparisons.
    MappedBytes Map(std::uint64_t offset, std::uint64_t length) const;
    // Flushes written data to the medium; a failure means the data may be lost.
    void Sync();

  private:
    std::string path_;
    bool isImageFile_;
    int fd_ = -1;
    std::uint64_t bytes_ = 0;
};

// Flushes the drive's data to the medium after other programs wrote it; throws on failure, and
// when an image file's size is no longer `expectedBytes`.
void SyncDrive(const std::string& path, bool isImageFile, std::uint64_t expectedBytes);

} // namespace vornel::fbinst
