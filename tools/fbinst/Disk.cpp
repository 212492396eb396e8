#include "Disk.h"

#include "Failure.h"
#include "Holders.h"
#include "UdevWatch.h"
#include "platform/MountInfo.h"
#include "platform/ReadWrite.h"
#include "platform/Sysfs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/blkpg.h>
#include <linux/fs.h>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace vornel::fbinst {

namespace {

using Clock = std::chrono::steady_clock;
// udev holds a disk's lock while it probes what a command wrote (measured: up to 1.2 s in a
// guest under load); an automounter mounts a new partition within moments of udev's news.
constexpr std::chrono::seconds kWaitBound{10};
constexpr long kLockTickMicroseconds = 200000;
constexpr std::chrono::milliseconds kClaimRetry{100};
// udev answers a close within milliseconds, or a little later on a busy machine; answers to
// closes it saw together come back to back.
constexpr std::chrono::milliseconds kUdevAnswerBound{3000};
constexpr std::chrono::milliseconds kUdevQuiet{50};

std::string SystemText() {
    return std::strerror(errno);
}

void Tick(int) {}

// While it lives, SIGALRM comes every tick and interrupts a waiting flock (no SA_RESTART).
class LockWaitTicks {
  public:
    LockWaitTicks() {
        struct sigaction tick {};
        tick.sa_handler = Tick;
        sigemptyset(&tick.sa_mask);
        sigaction(SIGALRM, &tick, &oldAction_);
        const itimerval every{{0, kLockTickMicroseconds}, {0, kLockTickMicroseconds}};
        setitimer(ITIMER_REAL, &every, &oldTimer_);
    }
    ~LockWaitTicks() {
        setitimer(ITIMER_REAL, &oldTimer_, nullptr);
        sigaction(SIGALRM, &oldAction_, nullptr);
    }
    LockWaitTicks(const LockWaitTicks&) = delete;
    LockWaitTicks& operator=(const LockWaitTicks&) = delete;

  private:
    struct sigaction oldAction_ {};
    itimerval oldTimer_{};
};

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
    : path_(path), isImageFile_(isImageFile), writable_(writable), sysfsRoot_(sysfsRoot) {
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
    // A descriptor of its own: closing it (read-only) tells udev nothing.
    lockFd_.Reset(open(OwnPath(fd_.Get()).c_str(), O_RDONLY | O_CLOEXEC));
    if (!lockFd_.Valid())
        throw Failure("cannot open " + path + " again: " + SystemText());
    Lock();
    bytes_ = CurrentBytes();
    if (bytes_ == 0)
        throw Failure(path + " is empty (no medium?)");
}

Disk::~Disk() {
    if (partitionsForgotten_)
        TellSystemNewTable();
    if (!writable_ || isImageFile_ || !UdevWatches(identity_.st_rdev))
        return;
    const std::string name = std::filesystem::path(path_).filename().string();
    std::vector<std::string> devices{name};
    for (const platform::SysfsPartition& partition :
         platform::Partitions(platform::BlockFolder(sysfsRoot_, name)))
        devices.push_back(std::filesystem::path(partition.folder).filename().string());
    UdevAnswer answer(devices);
    KernelEvents events;
    exclusiveFd_.Reset();
    fd_.Reset();
    // udev's answer to the close, sent while the lock holds; without one the lock goes anyway.
    events.WaitForAnswer(answer, kUdevAnswerBound, kUdevQuiet);
}

void Disk::Lock() {
    const int kind = writable_ ? LOCK_EX : LOCK_SH;
    if (flock(lockFd_.Get(), kind | LOCK_NB) == 0)
        return;
    int failure = errno;
    // A waiting flock takes the lock the moment its holder lets go, before udev's next probe can
    // take it again; the timer's ticks interrupt it to look at the holder and the time.
    const LockWaitTicks ticks;
    const Clock::time_point deadline = Clock::now() + kWaitBound;
    const std::string self = ProgramName(getpid());
    for (;;) {
        if (failure != EWOULDBLOCK && failure != EINTR)
            throw Failure("cannot lock " + path_ + ": " + std::strerror(failure));
        const std::vector<Holder> holders = LockHoldersOf(identity_);
        // Another run of the tool holds the drive for a whole command: waiting would not help.
        for (const Holder& holder : holders)
            if (!self.empty() && holder.program == self)
                throw Failure(path_ + " is in use by another run of the disk tool (process " +
                              std::to_string(holder.pid) + ")");
        if (Clock::now() >= deadline)
            throw Failure(path_ + " is in use by " +
                          (holders.empty() ? "another program" : Describe(holders.front())) +
                          ", which keeps it locked; close that program and try again");
        if (flock(lockFd_.Get(), kind) == 0)
            return;
        failure = errno;
    }
}

bool Disk::TryClaim() {
    // Read-only: the claim writes nothing, and so its close asks udev nothing either.
    exclusiveFd_.Reset(open(OwnPath(fd_.Get()).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
    return exclusiveFd_.Valid();
}

std::string Disk::WhatHolds() const {
    const std::vector<dev_t> devices = platform::DiskAndPartitions(identity_.st_rdev, sysfsRoot_);
    std::string mounts, users;
    for (const platform::MountEntry& mount : platform::ReadMountInfo())
        if (std::find(devices.begin(), devices.end(), mount.device) != devices.end())
            mounts += (mounts.empty() ? "mounted at " : ", ") + mount.mountPoint;
    for (const Holder& holder : ProcessesUsing(devices))
        users += (users.empty() ? "open in " : ", ") + Describe(holder);
    if (mounts.empty() && users.empty())
        return "mounted, or held by another program";
    return mounts + (mounts.empty() || users.empty() ? "" : "; ") + users;
}

void Disk::ClaimExclusively(std::function<void()> freeDrive) {
    freeDrive_ = std::move(freeDrive);
    if (isImageFile_ || exclusiveFd_.Valid())
        return;
    const Clock::time_point deadline = Clock::now() + kWaitBound;
    for (;;) {
        std::optional<Failure> notFreed;
        try {
            if (freeDrive_)
                freeDrive_();
        } catch (const Failure& failure) {
            notFreed = failure;
        }
        if (!notFreed && TryClaim())
            return;
        if (Clock::now() >= deadline) {
            if (notFreed)
                throw *notFreed;
            throw Failure(path_ + " is in use (" + WhatHolds() + ")");
        }
        std::this_thread::sleep_for(kClaimRetry);
    }
}

void Disk::WithoutExclusiveClaim(const std::function<void()>& work) {
    const bool claimed = exclusiveFd_.Valid();
    exclusiveFd_.Reset();
    work();
    if (claimed)
        ClaimExclusively(freeDrive_);
}

void Disk::ForgetPartitions() {
    if (!exclusiveFd_.Valid())
        return;
    const std::string folder =
        platform::BlockFolder(sysfsRoot_, std::filesystem::path(path_).filename().string());
    for (const platform::SysfsPartition& partition : platform::Partitions(folder)) {
        blkpg_partition gone{};
        gone.pno = std::atoi(partition.number.c_str());
        blkpg_ioctl_arg request{};
        request.op = BLKPG_DEL_PARTITION;
        request.datalen = sizeof gone;
        request.data = &gone;
        if (ioctl(exclusiveFd_.Get(), BLKPG, &request) == 0)
            partitionsForgotten_ = true;
    }
}

void Disk::TellSystemNewTable() {
    // The table on the medium is right either way; without this the system sees it at the next
    // plug-in. A format that failed while mkfs.fat had the claim has only the plain descriptor.
    const int fd = exclusiveFd_.Valid() ? exclusiveFd_.Get() : fd_.Get();
    if (!isImageFile_ && ioctl(fd, BLKRRPART) == 0)
        partitionsForgotten_ = false;
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
