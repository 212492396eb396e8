#include "FatGeometry.h"

#include "Failure.h"
#include "platform/LittleEndian.h"

namespace vornel::fbinst {

using platform::LoadLittleEndian;

namespace {
// The cluster counts at which FAT16 and FAT32 begin: the count alone tells the entries' width.
constexpr std::uint64_t kFat16FromClusters = 4085;
constexpr std::uint64_t kFat32FromClusters = 65525;
} // namespace

FatGeometry ParseFatGeometry(const std::array<std::uint8_t, 512>& bootSector) {
    const std::uint64_t sectorBytes = LoadLittleEndian(bootSector, 11, 2);
    const std::uint64_t perCluster = bootSector[13];
    const std::uint64_t reserved = LoadLittleEndian(bootSector, 14, 2);
    const std::uint64_t fats = bootSector[16];
    const std::uint64_t rootEntries = LoadLittleEndian(bootSector, 17, 2);
    std::uint64_t totalSectors = LoadLittleEndian(bootSector, 19, 2);
    if (totalSectors == 0)
        totalSectors = LoadLittleEndian(bootSector, 32, 4);
    std::uint64_t fatSectors = LoadLittleEndian(bootSector, 22, 2);
    std::uint64_t fsInfoSector = 0;
    if (fatSectors == 0) { // FAT32's fields
        fatSectors = LoadLittleEndian(bootSector, 36, 4);
        fsInfoSector = LoadLittleEndian(bootSector, 48, 2);
    }
    if (sectorBytes != 512 || perCluster == 0 || (perCluster & (perCluster - 1)) != 0 || reserved == 0 ||
        fats == 0 || fatSectors == 0)
        throw Failure("the boot area's FAT boot sector is damaged");
    const std::uint64_t rootSectors = (rootEntries * 32 + sectorBytes - 1) / sectorBytes;
    const std::uint64_t dataStart = reserved + fats * fatSectors + rootSectors;
    return {perCluster * sectorBytes,
            dataStart * sectorBytes,
            reserved * sectorBytes,
            fatSectors * sectorBytes,
            totalSectors > dataStart ? (totalSectors - dataStart) / perCluster : 0,
            fsInfoSector < reserved ? fsInfoSector * sectorBytes : 0};
}

std::optional<std::uint64_t> FsInfoFreeClusters(const std::array<std::uint8_t, 512>& fsInfo,
                                                std::uint64_t clusters) {
    constexpr std::uint64_t kLeadSignature = 0x41615252, kStructSignature = 0x61417272;
    if (LoadLittleEndian(fsInfo, 0, 4) != kLeadSignature ||
        LoadLittleEndian(fsInfo, 484, 4) != kStructSignature)
        return std::nullopt;
    const std::uint64_t free = LoadLittleEndian(fsInfo, 488, 4);
    if (free > clusters) // 0xFFFFFFFF: not known
        return std::nullopt;
    return free;
}

std::uint64_t CountFreeClusters(std::span<const std::uint8_t> table, std::uint64_t clusters) {
    const unsigned bits = clusters < kFat16FromClusters ? 12 : clusters < kFat32FromClusters ? 16 : 32;
    const std::uint64_t last = clusters + 1;
    const std::uint64_t needed = bits == 12 ? last * 3 / 2 + 2 : (last + 1) * bits / 8;
    if (needed > table.size())
        throw Failure("the boot area's FAT is smaller than its clusters need");
    std::uint64_t free = 0;
    for (std::uint64_t cluster = 2; cluster <= last; ++cluster) {
        std::uint64_t entry = 0;
        if (bits == 12) {
            // Two entries share three bytes: an even one the low 12 bits, an odd one the high 12.
            const std::uint64_t pair = LoadLittleEndian(table, cluster * 3 / 2, 2);
            entry = cluster % 2 == 0 ? pair & 0xFFF : pair >> 4;
        } else {
            entry = LoadLittleEndian(table, cluster * bits / 8, bits / 8);
            if (bits == 32)
                entry &= 0x0FFFFFFF; // the top four bits are reserved
        }
        free += entry == 0 ? 1 : 0;
    }
    return free;
}

} // namespace vornel::fbinst
