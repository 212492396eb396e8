#include "CopyCheck.h"

#include "Failure.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::fbinst {

namespace {

std::uint64_t Le(const std::array<std::uint8_t, 512>& bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = value << 8 | bytes[at + i];
    return value;
}

} // namespace

FatGeometry ParseFatGeometry(const std::array<std::uint8_t, 512>& bootSector) {
    const std::uint64_t sectorBytes = Le(bootSector, 11, 2);
    const std::uint64_t perCluster = bootSector[13];
    const std::uint64_t reserved = Le(bootSector, 14, 2);
    const std::uint64_t fats = bootSector[16];
    const std::uint64_t rootEntries = Le(bootSector, 17, 2);
    std::uint64_t fatSectors = Le(bootSector, 22, 2);
    if (fatSectors == 0)
        fatSectors = Le(bootSector, 36, 4);
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

void CheckCopy(const Disk& disk, std::uint64_t fatStart, const std::vector<ClusterRun>& runs,
               std::uint64_t fileBytes, const std::string& sourcePath) {
    std::array<std::uint8_t, 512> bootSector{};
    disk.ReadAt(fatStart, bootSector);
    const FatGeometry fat = ParseFatGeometry(bootSector);
    const int sourceFd = open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (sourceFd < 0)
        throw Failure("cannot read \"" + sourcePath + "\" to check the copy");
    struct stat info {};
    const bool sized = fstat(sourceFd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) == fileBytes;
    // The mapping keeps the file open on its own; the descriptor is closed on every way out.
    const auto mapSource = [&] {
        try {
            return std::make_unique<MappedBytes>(sourceFd, 0, sized ? fileBytes : 0, sourcePath);
        } catch (...) {
            close(sourceFd);
            throw;
        }
    };
    const std::unique_ptr<MappedBytes> mappedSource = mapSource();
    close(sourceFd);
    const auto differs = [&] { return Failure("the copy on the drive differs from \"" + sourcePath + "\""); };
    if (!sized)
        throw differs();

    std::uint64_t clusters = 0;
    for (const ClusterRun& run : runs)
        clusters += run.last - run.first + 1;
    if (clusters != (fileBytes + fat.clusterBytes - 1) / fat.clusterBytes)
        throw Failure("the copy on the drive has " + std::to_string(clusters) +
                      " clusters, not the size of \"" + sourcePath + "\"");

    const std::uint8_t* expected = mappedSource->Bytes().data();
    std::uint64_t left = fileBytes;
    for (const ClusterRun& run : runs) {
        const std::uint64_t offset = fatStart + fat.dataStartBytes + (run.first - 2) * fat.clusterBytes;
        const std::uint64_t runBytes = std::min(left, (run.last - run.first + 1) * fat.clusterBytes);
        const MappedBytes onDrive = disk.Map(offset, runBytes);
        if (std::memcmp(onDrive.Bytes().data(), expected, static_cast<std::size_t>(runBytes)) != 0)
            throw differs();
        expected += runBytes;
        left -= runBytes;
    }
    if (left != 0)
        throw differs();
}
} // namespace vornel::fbinst
