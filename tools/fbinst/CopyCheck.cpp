#include "CopyCheck.h"

#include "Failure.h"
#include "Layout.h"
#include "platform/ReadWrite.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <optional>
#include <regex>
#include <sys/stat.h>

namespace vornel::fbinst {

FatGeometry ReadFatGeometry(const Medium& medium, std::uint64_t fatStart) {
    const AlignedBuffer read(kSectorBytes);
    medium.Read(fatStart, read.Span());
    std::array<std::uint8_t, 512> bootSector{};
    std::copy_n(read.Span().begin(), bootSector.size(), bootSector.begin());
    return ParseFatGeometry(bootSector);
}

std::vector<ClusterRun> ParseClusterRuns(const std::string& mshowfatLine) {
    std::vector<ClusterRun> runs;
    static const std::regex run(R"(<(\d+)(?:-(\d+))?>)");
    for (auto it = std::sregex_iterator(mshowfatLine.begin(), mshowfatLine.end(), run);
         it != std::sregex_iterator(); ++it) {
        const std::uint64_t first = std::stoull((*it)[1]);
        const std::uint64_t last = (*it)[2].matched ? std::stoull((*it)[2]) : first;
        if (first < 2 || last < first)
            throw Failure("mshowfat reported a bad cluster run: " + mshowfatLine);
        runs.push_back({first, last});
    }
    return runs;
}

namespace {

// Each read of the medium is as large as a plain `dd bs=4M`'s, so the check reads as fast.
constexpr std::size_t kPieceBytes = 4 << 20;
// Reads under way while a piece is compared: the medium always has the next ones to do, and a
// disk that serves several at once (not a USB stick, which takes one at a time) serves them faster
// than one, which pays for the comparison's share of the processor.
constexpr std::size_t kReadsAhead = 4;

class SourceFile {
  public:
    explicit SourceFile(const std::string& path)
        : path_(path), fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (!fd_.Valid())
            throw Failure("cannot read \"" + path + "\" to check the copy");
    }

    std::uint64_t Bytes() const {
        struct stat info {};
        return fstat(fd_.Get(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    // Fills `piece` from `offset`; false when the file ends first.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> piece) const {
        const std::int64_t read = platform::ReadFullyAt(fd_.Get(), offset, piece);
        if (read < 0)
            throw Failure("cannot read \"" + path_ + "\" to check the copy: " + std::strerror(errno));
        return read == static_cast<std::int64_t>(piece.size());
    }

  private:
    std::string path_;
    platform::UniqueFd fd_;
};

Failure ChangedWhileCopied(const std::string& sourcePath) {
    return Failure("\"" + sourcePath + "\" changed while it was copied");
}

std::uint64_t WholeSectors(std::uint64_t bytes) {
    return (bytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
}

} // namespace

void CheckCopy(const Medium& medium, const CopyOnDrive& copy, const std::string& sourcePath,
               std::atomic<std::uint64_t>* checkedBytes) {
    const FatGeometry fat = ReadFatGeometry(medium, copy.fatStart);
    if (SourceFile(sourcePath).Bytes() != copy.bytes)
        throw ChangedWhileCopied(sourcePath);

    std::uint64_t clusters = 0;
    for (const ClusterRun& run : copy.runs)
        clusters += run.last - run.first + 1;
    if (clusters != (copy.bytes + fat.clusterBytes - 1) / fat.clusterBytes)
        throw Failure("the copy of \"" + copy.name + "\" on the drive has " + std::to_string(clusters) +
                      " clusters, not the size of \"" + sourcePath + "\"");

    std::vector<CopiedRange> ranges;
    std::uint64_t placed = 0;
    for (const ClusterRun& run : copy.runs) {
        const std::uint64_t runBytes =
            std::min(copy.bytes - placed, (run.last - run.first + 1) * fat.clusterBytes);
        ranges.push_back(
            {placed, copy.fatStart + fat.dataStartBytes + (run.first - 2) * fat.clusterBytes, runBytes});
        placed += runBytes;
    }
    CheckRanges(medium, ranges, sourcePath, "the copy of \"" + copy.name + "\"", checkedBytes);
}

void CheckRanges(const Medium& medium, const std::vector<CopiedRange>& ranges, const std::string& sourcePath,
                 const std::string& copyName, std::atomic<std::uint64_t>* checkedBytes) {
    const SourceFile source(sourcePath);
    // The ranges cut into pieces, each at its place in the source and on the drive.
    std::vector<CopiedRange> pieces;
    for (const CopiedRange& range : ranges)
        for (std::uint64_t done = 0; done < range.bytes; done += kPieceBytes)
            pieces.push_back({range.sourceOffset + done, range.driveOffset + done,
                              std::min<std::uint64_t>(kPieceBytes, range.bytes - done)});

    // Pieces are read from the medium while the one before them is compared, in halves on two threads, so
    // the medium never waits for the comparison and the check reads as fast as a plain read. A
    // piece ending inside its last cluster is read to a whole sector.
    std::uint64_t largest = 0;
    for (const CopiedRange& piece : pieces)
        largest = std::max(largest, WholeSectors(piece.bytes));
    std::vector<AlignedBuffer> onDrive;
    for (std::size_t i = 0; i <= kReadsAhead; ++i)
        onDrive.emplace_back(largest);
    const auto onDriveOf = [&](std::size_t i) { return onDrive[i % onDrive.size()].Span(); };
    std::vector<std::uint8_t> expected(largest);
    const auto readPiece = [&](std::size_t i) {
        medium.Read(pieces[i].driveOffset, onDriveOf(i).first(WholeSectors(pieces[i].bytes)));
    };
    // Where the piece's bytes from `from` on (`length` of them) first differ from the source.
    const auto firstDifference = [&](std::size_t i, std::size_t from, std::size_t length) {
        const std::span<std::uint8_t> wanted(expected.data() + from, length);
        if (!source.ReadAt(pieces[i].sourceOffset + from, wanted))
            throw ChangedWhileCopied(sourcePath);
        const std::uint8_t* read = onDriveOf(i).data() + from;
        if (std::memcmp(read, wanted.data(), length) == 0)
            return std::optional<std::size_t>();
        return std::optional(from + (std::mismatch(read, read + length, wanted.data()).first - read));
    };
    std::deque<std::future<void>> reading;
    for (std::size_t i = 0; i < std::min(kReadsAhead, pieces.size()); ++i)
        reading.push_back(std::async(std::launch::async, readPiece, i));
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        reading.front().get();
        reading.pop_front();
        if (i + kReadsAhead < pieces.size())
            reading.push_back(std::async(std::launch::async, readPiece, i + kReadsAhead));
        const auto length = static_cast<std::size_t>(pieces[i].bytes);
        auto secondHalf = std::async(std::launch::async, firstDifference, i, length / 2, length - length / 2);
        const std::optional<std::size_t> first = firstDifference(i, 0, length / 2);
        const std::optional<std::size_t> second = secondHalf.get();
        if (const std::optional<std::size_t> at = first ? first : second)
            throw Failure(copyName + " read back from the drive differs from \"" + sourcePath +
                              "\" at byte " + std::to_string(pieces[i].sourceOffset + *at) + " (byte " +
                              std::to_string(pieces[i].driveOffset + *at) +
                              " of the drive): the drive does not keep what is written to it",
                          disktool::kExitCopyDiffers);
        if (checkedBytes)
            checkedBytes->fetch_add(length, std::memory_order_relaxed);
    }
}

} // namespace vornel::fbinst
