#include "ImagePartition.h"

#include "BootArea.h"
#include "CopyCheck.h"
#include "Failure.h"
#include "ProgressWatch.h"
#include "platform/ReadWrite.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornel::fbinst {

namespace {

constexpr std::size_t kPieceBytes = 4 << 20;
// Cleared after a failed write: an ISO 9660's volume descriptors lie at 32 KiB.
constexpr std::uint64_t kClearedOnFailure = 1 << 20;

// A stretch of a file: data, or a hole, which reads as zeros and takes no space.
struct Extent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool data = true;
};

// The file's data and holes in order; all data where the file system cannot tell.
std::vector<Extent> FileExtents(int fd, std::uint64_t size) {
    std::vector<Extent> extents;
    for (std::uint64_t at = 0; at < size;) {
        off_t data = lseek(fd, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0 && errno != ENXIO) // no SEEK_DATA here
            return {{0, size, true}};
        const std::uint64_t dataAt =
            data < 0 ? size : std::min<std::uint64_t>(static_cast<std::uint64_t>(data), size);
        if (dataAt > at)
            extents.push_back({at, dataAt - at, false});
        if (dataAt >= size)
            break;
        const off_t hole = lseek(fd, data, SEEK_HOLE);
        const std::uint64_t holeAt =
            hole < 0 ? size : std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), size);
        extents.push_back({dataAt, holeAt - dataAt, true});
        at = holeAt;
    }
    return extents;
}

// Zeros on the drive without writing them out where it can: a hole punched into an image file,
// the device's own zeroing on a stick.
void ZeroOnDrive(Disk& drive, std::uint64_t offset, std::uint64_t length) {
    if (drive.IsImageFile()) {
        if (fallocate(drive.Descriptor(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                      static_cast<off_t>(offset), static_cast<off_t>(length)) == 0)
            return;
    } else if (offset % kSectorBytes == 0 && length >= kSectorBytes) {
        std::uint64_t range[2] = {offset, length / kSectorBytes * kSectorBytes};
        if (ioctl(drive.Descriptor(), BLKZEROOUT, range) == 0) {
            offset += range[1];
            length -= range[1];
        }
    }
    drive.ZeroRange(offset, length);
}

// True when an image-file drive holds no data in the range: a hole there reads as zeros.
bool IsHoleOnDrive(const Disk& drive, std::uint64_t offset, std::uint64_t length) {
    if (!drive.IsImageFile())
        return false;
    const off_t data = lseek(drive.Descriptor(), static_cast<off_t>(offset), SEEK_DATA);
    return (data < 0 && errno == ENXIO) || (data >= 0 && static_cast<std::uint64_t>(data) >= offset + length);
}

std::string SlotsText(Mode mode) {
    return std::to_string(ImagePartitionSlot(mode, 0)) + " and " +
           std::to_string(ImagePartitionSlot(mode, 1));
}

// The image partition in `slot`; throws Failure unless the slot is one the layout leaves for
// images and holds one, inside the drive and overlapping nothing else.
Partition ImagePartitionIn(const FoundLayout& layout, int slot, std::uint64_t driveSectors) {
    const std::string mode = layout.mode == Mode::Zip ? "USB-ZIP" : "USB-HDD";
    if (slot != ImagePartitionSlot(layout.mode, 0) && slot != ImagePartitionSlot(layout.mode, 1))
        throw Failure("slot " + std::to_string(slot) + " is not an image slot: the drive's " + mode +
                      " layout keeps slots " + SlotsText(layout.mode) + " for images");
    const auto found = std::find_if(layout.table.begin(), layout.table.end(),
                                    [slot](const Partition& p) { return p.slot == slot; });
    if (found == layout.table.end() || found->type != kTypeImagePartition)
        throw Failure("slot " + std::to_string(slot) +
                      " of the drive holds no image partition (format the drive with -i first)");
    if (found->start == 0 || found->End() > driveSectors)
        throw Failure("the image partition in slot " + std::to_string(slot) +
                      " does not lie inside the drive");
    for (const Partition& other : layout.table)
        if (other.slot != slot && other.start < found->End() && found->start < other.End())
            throw Failure("the image partition in slot " + std::to_string(slot) + " overlaps partition " +
                          std::to_string(other.slot));
    return *found;
}

// Writes the source's data and zeros its holes on the drive from `driveOffset`, counting the
// bytes done in `done`.
void WriteExtents(Disk& drive, int source, const std::string& sourcePath, const std::vector<Extent>& extents,
                  std::uint64_t driveOffset, std::atomic<std::uint64_t>& done) {
    std::vector<std::uint8_t> piece(kPieceBytes);
    for (const Extent& extent : extents) {
        if (!extent.data) {
            ZeroOnDrive(drive, driveOffset + extent.offset, extent.length);
            done.fetch_add(extent.length, std::memory_order_relaxed);
            continue;
        }
        for (std::uint64_t at = extent.offset; at < extent.offset + extent.length;) {
            const auto length = static_cast<std::size_t>(
                std::min<std::uint64_t>(kPieceBytes, extent.offset + extent.length - at));
            const std::int64_t read = platform::ReadFullyAt(source, at, std::span(piece.data(), length));
            if (read != static_cast<std::int64_t>(length))
                throw Failure(
                    "cannot read \"" + sourcePath + "\" at byte " + std::to_string(at) + ": " +
                    (read < 0 ? std::strerror(errno) : "it ended early (it changed while it was written)"));
            drive.WriteAt(driveOffset + at, std::span<const std::uint8_t>(piece.data(), length));
            at += length;
            done.fetch_add(length, std::memory_order_relaxed);
        }
    }
}

// The image partition in `slot`, which must hold the image's `bytes`.
Partition PartitionFor(const Disk& drive, int slot, const std::string& source, std::uint64_t bytes) {
    std::string whyNot;
    const std::optional<FoundLayout> layout = FindBootArea(drive, whyNot);
    if (!layout)
        throw Failure(whyNot);
    const Partition partition = ImagePartitionIn(*layout, slot, drive.Sectors());
    if (bytes > partition.sectors * kSectorBytes)
        throw Failure("\"" + source + "\" (" + std::to_string(bytes) +
                      " bytes) is larger than the image partition in slot " + std::to_string(slot) + " (" +
                      std::to_string(partition.sectors * kSectorBytes) + " bytes)");
    return partition;
}

// Reads the written image back from the medium. What is a hole in both the source and an
// image-file drive reads as zeros on both sides.
void ReadBack(const Disk& drive, const std::vector<Extent>& extents, std::uint64_t start,
              const std::string& source, int slot, std::uint64_t bytes) {
    std::vector<CopiedRange> ranges;
    std::atomic<std::uint64_t> checked{0};
    for (const Extent& extent : extents) {
        if (!extent.data && IsHoleOnDrive(drive, start + extent.offset, extent.length))
            checked.fetch_add(extent.length);
        else
            ranges.push_back({extent.offset, start + extent.offset, extent.length});
    }
    ProgressWatch checking(progress::Phase::Check, bytes, [&checked] { return checked.load(); });
    CheckRanges(DriveMedium(drive, false), ranges, source,
                "the image in partition slot " + std::to_string(slot), &checked);
    checking.Complete();
}

} // namespace

void WriteImagePartition(Disk& drive, int slot, const std::string& source, std::ostream& out) {
    const platform::UniqueFd file(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file.Valid() || fstat(file.Get(), &info) != 0)
        throw Failure("cannot read \"" + source + "\": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw Failure("\"" + source + "\" is not a file");
    const auto bytes = static_cast<std::uint64_t>(info.st_size);
    const Partition partition = PartitionFor(drive, slot, source, bytes);
    const std::uint64_t start = partition.start * kSectorBytes;
    const std::vector<Extent> extents = FileExtents(file.Get(), bytes);
    try {
        std::atomic<std::uint64_t> written{0};
        {
            const EarlyWriteback writeback(drive);
            ProgressWatch copying(progress::Phase::Copy, bytes, [&written] { return written.load(); });
            WriteExtents(drive, file.Get(), source, extents, start, written);
            copying.Complete();
        }
        drive.CheckSize();
        drive.Sync();
        ReadBack(drive, extents, start, source, slot, bytes);
    } catch (const std::exception&) {
        try {
            ZeroOnDrive(drive, start, std::min(kClearedOnFailure, partition.sectors * kSectorBytes));
            drive.Sync();
        } catch (const std::exception&) {
            // The write's own failure is the one to report.
        }
        throw;
    }
    out << "wrote " << source << " (" << bytes << " bytes) into the image partition in slot " << slot << "\n";
}

} // namespace vornel::fbinst
