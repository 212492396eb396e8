#include "Disk.h"

#include "Failure.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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
    std::ifstream in(sysfsRoot + "/block/" + std::filesystem::path(path).filename().string() + "/dev");
    unsigned major = 0, minor = 0;
    char colon = 0;
    if (!(in >> major >> colon >> minor) || colon != ':')
        return 0;
    return makedev(major, minor);
}

} // namespace

Disk::Disk(const std::string& path, bool isImageFile, bool writable, const std::string& sysfsRoot)
    : path_(path), isImageFile_(isImageFile), writable_(writable) {
    fd_ = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 && errno == ELOOP)
        throw Failure(path + " is a symbolic link; name the drive itself");
    if (fd_ < 0)
        throw Failure("cannot open " + path + ": " + SystemText());
    const auto fail = [&](const std::string& message) {
        close(fd_);
        fd_ = -1;
        throw Failure(message);
    };
    if (fstat(fd_, &identity_) != 0)
        fail("cannot examine " + path + ": " + SystemText());
    if (isImageFile) {
        if (!S_ISREG(identity_.st_mode))
            fail(path + " is not a disk image file");
    } else {
        if (!S_ISBLK(identity_.st_mode))
            fail(path + " is not a block device");
        if (identity_.st_rdev != ListedDeviceNumber(path, sysfsRoot))
            fail(path + " is not the device the system lists under that name");
        int sectorBytes = 0;
        if (ioctl(fd_, BLKSSZGET, &sectorBytes) != 0)
            fail("cannot read the sector size of " + path + ": " + SystemText());
        if (sectorBytes != 512)
            fail(path + " has " + std::to_string(sectorBytes) +
                 "-byte sectors; only 512-byte sectors are supported");
    }
    if (flock(fd_, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
        fail(path + " is in use by another run of the disk tool");
    bytes_ = CurrentBytes();
    if (bytes_ == 0)
        fail(path + " is empty (no medium?)");
}

void Disk::ClaimExclusively() {
    if (isImageFile_ || exclusiveFd_ >= 0)
        return;
    exclusiveFd_ = open(OwnPath(fd_).c_str(), (writable_ ? O_RDWR : O_RDONLY) | O_EXCL | O_CLOEXEC);
    if (exclusiveFd_ < 0)
        throw Failure(path_ + " is in use (mounted, or held by another program): " + SystemText());
}

void Disk::WithoutExclusiveClaim(const std::function<void()>& work) {
    const bool claimed = exclusiveFd_ >= 0;
    if (claimed) {
        close(exclusiveFd_);
        exclusiveFd_ = -1;
    }
    work();
    if (claimed)
        ClaimExclusively();
}

void Disk::TellSystemNewTable() {
    // The table on the medium is right either way; without this the system sees it at the next plug-in.
    if (exclusiveFd_ >= 0)
        ioctl(exclusiveFd_, BLKRRPART);
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
        if (fstat(fd_, &info) == 0)
            bytes = static_cast<std::uint64_t>(info.st_size);
    } else if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0) {
        bytes = 0;
    }
    return bytes - bytes % 512;
}

Disk::~Disk() {
    if (exclusiveFd_ >= 0)
        close(exclusiveFd_);
    if (fd_ >= 0)
        close(fd_);
}

void Disk::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    if (offset > bytes_ || bytes.size() > bytes_ - offset)
        throw Failure("read beyond the end of " + path_);
    const std::int64_t read = platform::ReadFullyAt(fd_, offset, bytes);
    if (read != static_cast<std::int64_t>(bytes.size()))
        throw Failure("reading " + path_ + " failed at byte " +
                      std::to_string(offset + std::max<std::int64_t>(read, 0)) + ": " +
                      (read < 0 ? SystemText() : std::string("the drive ended early")));
}

void Disk::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > bytes_ || bytes.size() > bytes_ - offset)
        throw Failure("refusing to write beyond the end of " + path_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Failure("writing " + path_ + " failed at byte " + std::to_string(offset + done) + ": " +
                          (n == 0 ? std::string("nothing was written") : SystemText()));
        done += static_cast<std::size_t>(n);
    }
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
    if (fsync(fd_) != 0)
        throw Failure("flushing " + path_ + " failed: " + SystemText());
}

EarlyWriteback::EarlyWriteback(const Disk& disk)
    : fd_(open(OwnPath(disk.Descriptor()).c_str(), O_RDONLY | O_CLOEXEC)) {
    // Without a descriptor nothing is flushed early; the final flush does all the work.
    if (fd_ < 0)
        return;
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            fdatasync(fd_);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

EarlyWriteback::~EarlyWriteback() {
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        close(fd_);
}

} // namespace vornel::fbinst
