#pragma once
// The drive's medium itself: reads that return what the stick (or an image file's own disk) keeps,
// never what the system's page cache still holds of a write, and writes that go straight to it.
// The read-back of a copy and the capacity check work through it: a stick that loses writes is
// only seen there.

#include "Disk.h"
#include "platform/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

namespace vornel::fbinst {

// What the checks need of a medium. Offsets and lengths are whole sectors; buffers come from
// AlignedBuffer. Every failure is a Failure.
class Medium {
  public:
    virtual ~Medium() = default;
    virtual void Read(std::uint64_t offset, std::span<std::uint8_t> bytes) const = 0;
    virtual void Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    // Every write so far, the page cache's included, reaches the medium.
    virtual void Flush() = 0;
};

// Memory direct I/O can use: whole pages, aligned to a page, zeroed.
class AlignedBuffer {
  public:
    explicit AlignedBuffer(std::size_t bytes);
    std::span<std::uint8_t> Span() const { return {data_.get(), size_}; }

  private:
    struct Free {
        void operator()(std::uint8_t* data) const;
    };
    std::unique_ptr<std::uint8_t, Free> data_;
    std::size_t size_;
};

// The Disk's own object opened once more with O_DIRECT, so no byte passes through the cache. On a
// file system that takes no O_DIRECT (an image file there), a read drops its range from the cache
// and reads it afresh instead: the caller has flushed, so the pages are clean and can go.
class DriveMedium final : public Medium {
  public:
    DriveMedium(const Disk& disk, bool writable);
    void Read(std::uint64_t offset, std::span<std::uint8_t> bytes) const override;
    void Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    void Flush() override;

  private:
    void FallBackToCache(std::uint64_t offset, std::size_t length) const;

    const Disk& disk_;
    platform::UniqueFd fd_;
    mutable std::atomic<bool> direct_{true};
};

// Drops the drive's cached pages of a range (the clean ones: flush first), so the next read of
// it, by the tool or by a helper program, comes from the medium.
void DropFromCache(const Disk& disk, std::uint64_t offset, std::uint64_t length);

} // namespace vornel::fbinst
