#include "Medium.h"

#include "Failure.h"
#include "platform/ReadWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace vornel::fbinst {

namespace {

constexpr std::size_t kPageBytes = 4096;

std::string SystemText(int error) {
    return std::strerror(error);
}

} // namespace

AlignedBuffer::AlignedBuffer(std::size_t bytes) : size_(bytes) {
    void* data = nullptr;
    const std::size_t whole = (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
    if (posix_memalign(&data, kPageBytes, std::max(whole, kPageBytes)) != 0)
        throw std::bad_alloc();
    std::memset(data, 0, std::max(whole, kPageBytes));
    data_.reset(static_cast<std::uint8_t*>(data));
}

void AlignedBuffer::Free::operator()(std::uint8_t* data) const {
    std::free(data);
}

DriveMedium::DriveMedium(const Disk& disk, bool writable) : disk_(disk) {
    const std::string own = "/proc/self/fd/" + std::to_string(disk.Descriptor());
    const int access = writable ? O_RDWR : O_RDONLY;
    fd_.Reset(open(own.c_str(), access | O_DIRECT | O_CLOEXEC));
    if (!fd_.Valid() && errno == EINVAL) {
        fd_.Reset(open(own.c_str(), access | O_CLOEXEC));
        direct_.store(false);
    }
    if (!fd_.Valid())
        throw Failure("cannot open " + disk.Path() + " past the system's cache: " + SystemText(errno));
}

void DriveMedium::FallBackToCache(std::uint64_t offset, std::size_t length) const {
    if (direct_.exchange(false))
        fcntl(fd_.Get(), F_SETFL, fcntl(fd_.Get(), F_GETFL) & ~O_DIRECT);
    DropFromCache(disk_, offset, length);
}

void DriveMedium::Read(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    if (offset > disk_.Bytes() || bytes.size() > disk_.Bytes() - offset)
        throw Failure("read beyond the end of " + disk_.Path());
    if (!direct_.load())
        DropFromCache(disk_, offset, bytes.size());
    std::int64_t read = platform::ReadFullyAt(fd_.Get(), offset, bytes);
    if (read < 0 && errno == EINVAL && direct_.load()) {
        // The file system wants another alignment for direct reads than the drive's sectors.
        FallBackToCache(offset, bytes.size());
        read = platform::ReadFullyAt(fd_.Get(), offset, bytes);
    }
    if (read != static_cast<std::int64_t>(bytes.size()))
        throw Failure("reading " + disk_.Path() + " past the cache failed at byte " +
                      std::to_string(offset + std::max<std::int64_t>(read, 0)) + ": " +
                      (read < 0 ? SystemText(errno) : std::string("the drive ended early")));
}

void DriveMedium::Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > disk_.Bytes() || bytes.size() > disk_.Bytes() - offset)
        throw Failure("refusing to write beyond the end of " + disk_.Path());
    platform::IoResult written = platform::WriteAllAt(fd_.Get(), offset, bytes.data(), bytes.size());
    if (written.bytes == 0 && written.error == EINVAL && direct_.load()) {
        FallBackToCache(offset, bytes.size());
        written = platform::WriteAllAt(fd_.Get(), offset, bytes.data(), bytes.size());
    }
    if (written.bytes != bytes.size())
        throw Failure("writing " + disk_.Path() + " failed at byte " +
                      std::to_string(offset + written.bytes) + ": " +
                      (written.error == 0 ? std::string("nothing was written") : SystemText(written.error)));
}

void DriveMedium::Flush() {
    if (fsync(fd_.Get()) != 0)
        throw Failure("flushing " + disk_.Path() + " failed: " + SystemText(errno));
}

void DropFromCache(const Disk& disk, std::uint64_t offset, std::uint64_t length) {
    posix_fadvise(disk.Descriptor(), static_cast<off_t>(offset), static_cast<off_t>(length),
                  POSIX_FADV_DONTNEED);
}

} // namespace vornel::fbinst
