#include "Disk.h"

#include "Failure.h"
#include "platform/ReadWrite.h"
#include "platform/Sysfs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace vornel::fbinst {

namespace {

std::string SystemText() {
    return std::strerror(errno);
}

// Opening the descriptor's own /proc entry opens the very object again, never what a name means now.
std::string OwnPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The device number sysfs gives the block device named like the node at `path`; 0 when none.
dev_t ListedDeviceNumber(const std::string& path, const std::string& sysfsRoot) {
    const std::optional<std::string> number = platform::ReadTrimmedFile(
        platform::BlockFolder(sysfsRoot, std::filesystem::path(path).filename().string()) + "/dev");
    return number ? platform::ParseDeviceNumber(*number).value_or(0) : 0;
}

} // namespace

Disk::Disk(const std::string& path, bool isImageFile, bool writable, const std::string& sysfsRoot)
    : path_(path), isImageFile_(isImageFile), writable_(writable) {
    fd_.Reset(open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!fd_.Valid() && errno == ELOOP)
        throw Failure(path + " is a symbolic link; name the drive itself");
    if (!fd_.Valid())
        throw Failure("cannot open " + path + ": " + SystemText());
    if (fstat(fd_.Get(), &identity_) != 0)
        throw Failure("cannot examine " + path + ": " + SystemText());
    if (isImageFile) {
        if (!S_ISREG(identity_.st_mode))
            throw Failure(path + " is not a disk image file");
    } else {
        if (!S_ISBLK(identity_.st_mode))
            throw Failure(path + " is not a block device");
        if (identity_.st_rdev != ListedDeviceNumber(path, sysfsRoot))
            throw Failure(path + " is not the device the system lists under that name");
        int sectorBytes = 0;
        if (ioctl(fd_.Get(), BLKSSZGET, &sectorBytes) != 0)
            throw Failure("cannot read the sector size of " + path + ": " + SystemText());
        if (sectorBytes != 512)
            throw Failure(path + " has " + std::to_string(sectorBytes) +
                          "-byte sectors; only 512-byte sectors are supported");
    }
    if (flock(fd_.Get(), (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
        throw Failure(path + " is in use by another run of the disk tool");
    bytes_ = CurrentBytes();
    if (bytes_ == 0)
        throw Failure(path + " is empty (no medium?)");
}

void Disk::ClaimExclusively() {
    if (isImageFile_ || exclusiveFd_.Valid())
        return;
    exclusiveFd_.Reset(
        open(OwnPath(fd_.Get()).c_str(), (writable_ ? O_RDWR : O_RDONLY) | O_EXCL | O_CLOEXEC));
    if (!exclusiveFd_.Valid())
        throw Failure(path_ + " is in use (mounted, or held by another program): " + SystemText());
}

void Disk::WithoutExclusiveClaim(const std::function<void()>& work) {
    const bool claimed = exclusiveFd_.Valid();
    exclusiveFd_.Reset();
    work();
    if (claimed)
        ClaimExclusively();
}

void Disk::TellSystemNewTable() {
    // The table on the medium is right either way; without this the system sees it at the next plug-in.
    if (exclusiveFd_.Valid())
        ioctl(exclusiveFd_.Get(), BLKRRPART);
}

void Disk::CheckSize() const {
    const std::uint64_t now = CurrentBytes();
    if (now != bytes_)
        throw Failure(path_ + " changed size from " + std::to_string(bytes_) + " to " + std::to_string(now) +
                      " bytes");
}

std::uint64_t Disk::CurrentBytes() const {
    std::uint64_t bytes = 0;
    if (isImageFile_) {
        struct stat info {};
        if (fstat(fd_.Get(), &info) == 0)
            bytes = static_cast<std::uint64_t>(info.st_size);
    } else if (ioctl(fd_.Get(), BLKGETSIZE64, &bytes) != 0) {
        bytes = 0;
    }
    return bytes - bytes % 512;
}

void Disk::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    if (offset > bytes_ || bytes.size() > bytes_ - offset)
        throw Failure("read beyond the end of " + path_);
    const std::int64_t read = platform::ReadFullyAt(fd_.Get(), offset, bytes);
    if (read != static_cast<std::int64_t>(bytes.size()))
        throw Failure("reading " + path_ + " failed at byte " +
                      std::to_string(offset + std::max<std::int64_t>(read, 0)) + ": " +
                      (read < 0 ? SystemText() : std::string("the drive ended early")));
}

void Disk::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > bytes_ || bytes.size() > bytes_ - offset)
        throw Failure("refusing to write beyond the end of " + path_);
    const platform::IoResult written = platform::WriteAllAt(fd_.Get(), offset, bytes.data(), bytes.size());
    if (written.bytes != bytes.size())
        throw Failure(
            "writing " + path_ + " failed at byte " + std::to_string(offset + written.bytes) + ": " +
            (written.error == 0 ? std::string("nothing was written") : std::strerror(written.error)));
}

void Disk::ZeroRange(std::uint64_t offset, std::uint64_t length) {
    const std::vector<std::uint8_t> zeros(std::min<std::uint64_t>(length, 1 << 20), 0);
    while (length > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(length, zeros.size()));
        WriteAt(offset, std::span(zeros.data(), piece));
        offset += piece;
        length -= piece;
    }
}

void Disk::Sync() {
    if (fsync(fd_.Get()) != 0)
        throw Failure("flushing " + path_ + " failed: " + SystemText());
}

EarlyWriteback::EarlyWriteback(const Disk& disk)
    : fd_(open(OwnPath(disk.Descriptor()).c_str(), O_RDONLY | O_CLOEXEC)) {
    // Without a descriptor nothing is flushed early; the final flush does all the work.
    if (!fd_.Valid())
        return;
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            fdatasync(fd_.Get());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

EarlyWriteback::~EarlyWriteback() {
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

} // namespace vornel::fbinst
