#include "CopyCheck.h"

#include "Failure.h"
#include "platform/LittleEndian.h"
#include "platform/ReadWrite.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <future>
#include <regex>
#include <sys/stat.h>

namespace vornel::fbinst {

using platform::LoadLittleEndian;

FatGeometry ParseFatGeometry(const std::array<std::uint8_t, 512>& bootSector) {
    const std::uint64_t sectorBytes = LoadLittleEndian(bootSector, 11, 2);
    const std::uint64_t perCluster = bootSector[13];
    const std::uint64_t reserved = LoadLittleEndian(bootSector, 14, 2);
    const std::uint64_t fats = bootSector[16];
    const std::uint64_t rootEntries = LoadLittleEndian(bootSector, 17, 2);
    std::uint64_t fatSectors = LoadLittleEndian(bootSector, 22, 2);
    if (fatSectors == 0)
        fatSectors = LoadLittleEndian(bootSector, 36, 4);
    if (sectorBytes != 512 || perCluster == 0 || (perCluster & (perCluster - 1)) != 0 || reserved == 0 ||
        fats == 0 || fatSectors == 0)
        throw Failure("the boot area's FAT boot sector is damaged");
    const std::uint64_t rootSectors = (rootEntries * 32 + sectorBytes - 1) / sectorBytes;
    return {perCluster * sectorBytes, (reserved + fats * fatSectors + rootSectors) * sectorBytes};
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

// Reads from the page cache in pieces that stay in the processor's cache: several times faster
// than comparing mappings, which fault in every page on its own.
constexpr std::size_t kPieceBytes = 256 * 1024;

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

struct Piece {
    std::uint64_t fileOffset = 0;
    std::uint64_t driveOffset = 0;
    std::uint64_t bytes = 0;
};

} // namespace

void CheckCopy(const Disk& disk, std::uint64_t fatStart, const std::vector<ClusterRun>& runs,
               std::uint64_t fileBytes, const std::string& sourcePath,
               std::atomic<std::uint64_t>* checkedBytes) {
    std::array<std::uint8_t, 512> bootSector{};
    disk.ReadAt(fatStart, bootSector);
    const FatGeometry fat = ParseFatGeometry(bootSector);
    const SourceFile source(sourcePath);
    const auto differs = [&] { return Failure("the copy on the drive differs from \"" + sourcePath + "\""); };
    if (source.Bytes() != fileBytes)
        throw differs();

    std::uint64_t clusters = 0;
    for (const ClusterRun& run : runs)
        clusters += run.last - run.first + 1;
    if (clusters != (fileBytes + fat.clusterBytes - 1) / fat.clusterBytes)
        throw Failure("the copy on the drive has " + std::to_string(clusters) +
                      " clusters, not the size of \"" + sourcePath + "\"");

    // The file cut into pieces, each at its place in the source and on the drive.
    std::vector<Piece> pieces;
    std::uint64_t placed = 0;
    for (const ClusterRun& run : runs) {
        const std::uint64_t runStart = fatStart + fat.dataStartBytes + (run.first - 2) * fat.clusterBytes;
        const std::uint64_t runBytes =
            std::min(fileBytes - placed, (run.last - run.first + 1) * fat.clusterBytes);
        for (std::uint64_t done = 0; done < runBytes; done += kPieceBytes)
            pieces.push_back(
                {placed + done, runStart + done, std::min<std::uint64_t>(kPieceBytes, runBytes - done)});
        placed += runBytes;
    }
    if (placed != fileBytes)
        throw differs();

    // Halves on two threads: the comparison is bound by copying from the page cache, and the
    // flush that runs meanwhile mostly waits for the medium.
    std::atomic<bool> same{true};
    const auto compare = [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint8_t> expected(kPieceBytes), onDrive(kPieceBytes);
        for (std::size_t i = begin; i < end && same.load(); ++i) {
            const Piece& piece = pieces[i];
            const std::size_t length = static_cast<std::size_t>(piece.bytes);
            if (!source.ReadAt(piece.fileOffset, std::span(expected.data(), length)))
                same.store(false);
            disk.ReadAt(piece.driveOffset, std::span(onDrive.data(), length));
            if (std::memcmp(onDrive.data(), expected.data(), length) != 0)
                same.store(false);
            if (checkedBytes)
                checkedBytes->fetch_add(length, std::memory_order_relaxed);
        }
    };
    const std::size_t half = pieces.size() / 2;
    auto firstHalf = std::async(std::launch::async, compare, 0, half);
    std::exception_ptr failure;
    try {
        compare(half, pieces.size());
    } catch (...) {
        failure = std::current_exception();
        same.store(false); // the other half stops early
    }
    firstHalf.get();
    if (failure)
        std::rethrow_exception(failure);
    if (!same.load())
        throw differs();
}

} // namespace vornel::fbinst
