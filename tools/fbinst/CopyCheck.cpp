#include "CopyCheck.h"

#include "Failure.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>

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
    std::ifstream source(sourcePath, std::ios::binary);
    if (!source)
        throw Failure("cannot read \"" + sourcePath + "\" to check the copy");
    const auto differs = [&] { return Failure("the copy on the drive differs from \"" + sourcePath + "\""); };

    std::uint64_t clusters = 0;
    for (const ClusterRun& run : runs)
        clusters += run.last - run.first + 1;
    if (clusters != (fileBytes + fat.clusterBytes - 1) / fat.clusterBytes)
        throw Failure("the copy on the drive has " + std::to_string(clusters) +
                      " clusters, not the size of \"" + sourcePath + "\"");

    constexpr std::uint64_t kPiece = 4 << 20;
    std::vector<std::uint8_t> onDrive(kPiece);
    std::vector<char> expected(kPiece);
    std::uint64_t left = fileBytes;
    for (const ClusterRun& run : runs) {
        std::uint64_t offset = fatStart + fat.dataStartBytes + (run.first - 2) * fat.clusterBytes;
        std::uint64_t runLeft = std::min(left, (run.last - run.first + 1) * fat.clusterBytes);
        left -= runLeft;
        while (runLeft > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min(runLeft, kPiece));
            disk.ReadAt(offset, std::span(onDrive.data(), n));
            source.read(expected.data(), static_cast<std::streamsize>(n));
            if (static_cast<std::size_t>(source.gcount()) != n ||
                std::memcmp(onDrive.data(), expected.data(), n) != 0)
                throw differs();
            offset += n;
            runLeft -= n;
        }
    }
    if (left != 0 || source.peek() != std::char_traits<char>::eof())
        throw differs();
}

} // namespace vornel::fbinst
