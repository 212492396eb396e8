#include "RawCheck.h"

#include "Failure.h"
#include "Layout.h"
#include "platform/ReadWrite.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <span>

namespace vornel::fbinst {

namespace {

constexpr std::size_t kPieceBytes = 4 << 20; // as large as a plain `dd bs=4M` reads
constexpr std::size_t kPageBytes = 4096;

std::uint64_t WholeSectors(std::uint64_t bytes) {
    return (bytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
}

// Memory direct I/O can use: aligned to a page.
struct FreeAligned {
    void operator()(std::uint8_t* data) const { std::free(data); }
};
std::unique_ptr<std::uint8_t, FreeAligned> AlignedBytes(std::size_t bytes) {
    void* data = nullptr;
    if (posix_memalign(&data, kPageBytes, std::max(bytes, kPageBytes)) != 0)
        throw std::bad_alloc();
    return std::unique_ptr<std::uint8_t, FreeAligned>(static_cast<std::uint8_t*>(data));
}

// The drive's own object opened once more with O_DIRECT, so no byte comes from the cache. Where
// the file system takes no direct reads (an image file there), a range is dropped from the cache
// (its pages are clean: the caller has flushed) and read afresh.
class MediumReader {
  public:
    explicit MediumReader(const Disk& drive) : drive_(drive) {
        const std::string own = "/proc/self/fd/" + std::to_string(drive.Descriptor());
        fd_.Reset(open(own.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC));
        if (!fd_.Valid() && errno == EINVAL) {
            fd_.Reset(open(own.c_str(), O_RDONLY | O_CLOEXEC));
            direct_ = false;
        }
        if (!fd_.Valid())
            throw Failure("cannot open " + drive.Path() + " to read it back: " + std::strerror(errno));
    }

    // `offset` and the size of `bytes` are whole sectors; `bytes` is page-aligned.
    void Read(std::uint64_t offset, std::span<std::uint8_t> bytes) {
        if (offset > drive_.Bytes() || bytes.size() > drive_.Bytes() - offset)
            throw Failure("read beyond the end of " + drive_.Path());
        if (!direct_)
            DropFromCache(offset, bytes.size());
        std::int64_t read = platform::ReadFullyAt(fd_.Get(), offset, bytes);
        if (read < 0 && errno == EINVAL && direct_) {
            // The file system wants another alignment for direct reads than the drive's sectors.
            direct_ = false;
            fcntl(fd_.Get(), F_SETFL, fcntl(fd_.Get(), F_GETFL) & ~O_DIRECT);
            DropFromCache(offset, bytes.size());
            read = platform::ReadFullyAt(fd_.Get(), offset, bytes);
        }
        if (read != static_cast<std::int64_t>(bytes.size()))
            throw Failure(
                "reading " + drive_.Path() + " back failed at byte " +
                std::to_string(offset + static_cast<std::uint64_t>(std::max<std::int64_t>(read, 0))) + ": " +
                (read < 0 ? std::strerror(errno) : "the drive ended early"));
    }

  private:
    void DropFromCache(std::uint64_t offset, std::uint64_t length) const {
        posix_fadvise(drive_.Descriptor(), static_cast<off_t>(offset), static_cast<off_t>(length),
                      POSIX_FADV_DONTNEED);
    }

    const Disk& drive_;
    platform::UniqueFd fd_;
    bool direct_ = true;
};

} // namespace

void CheckRawCopy(const Disk& drive, const std::vector<CopiedRange>& ranges, const std::string& sourcePath,
                  std::atomic<std::uint64_t>* checkedBytes) {
    const platform::UniqueFd source(open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.Valid())
        throw Failure("cannot read \"" + sourcePath + "\" to check the copy: " + std::strerror(errno));
    MediumReader medium(drive);
    const auto onDrive = AlignedBytes(kPieceBytes);
    std::vector<std::uint8_t> expected(kPieceBytes);
    for (const CopiedRange& range : ranges) {
        for (std::uint64_t done = 0; done < range.bytes; done += kPieceBytes) {
            const auto length =
                static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, range.bytes - done));
            const std::uint64_t at = range.sourceOffset + done;
            if (platform::ReadFullyAt(source.Get(), at, std::span(expected.data(), length)) !=
                static_cast<std::int64_t>(length))
                throw Failure("\"" + sourcePath + "\" changed while it was copied");
            medium.Read(range.driveOffset + done,
                        std::span(onDrive.get(), static_cast<std::size_t>(WholeSectors(length))));
            const std::uint8_t* read = onDrive.get();
            if (std::memcmp(read, expected.data(), length) != 0) {
                const auto first = static_cast<std::uint64_t>(
                    std::mismatch(read, read + length, expected.data()).first - read);
                throw Failure("the copy read back from the drive differs from \"" + sourcePath +
                              "\" at byte " + std::to_string(at + first) + " (byte " +
                              std::to_string(range.driveOffset + done + first) +
                              " of the drive): the drive does not keep what is written to it");
            }
            if (checkedBytes)
                checkedBytes->fetch_add(length, std::memory_order_relaxed);
        }
    }
}

} // namespace vornel::fbinst
