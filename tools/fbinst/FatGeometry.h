#pragma once
// Where a FAT keeps its table and its cluster data, from its boot sector, and what the table (or
// FAT32's own count) says is free: read by the tool itself, where asking mtools would start another
// process per question.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace vornel::fbinst {

struct FatGeometry {
    std::uint64_t clusterBytes = 0;
    std::uint64_t dataStartBytes = 0;  // from the file system's first sector
    std::uint64_t tableStartBytes = 0; // the first copy of the table, from the first sector
    std::uint64_t tableBytes = 0;
    std::uint64_t clusters = 0;         // data clusters, numbered from 2; 0 when the sector count is missing
    std::uint64_t fsInfoStartBytes = 0; // FAT32's FSInfo sector, from the first sector; 0 when none
};

// Throws Failure when the boot sector's fields make no sense.
FatGeometry ParseFatGeometry(const std::array<std::uint8_t, 512>& bootSector);

// The free cluster count a FAT32's FSInfo sector keeps (mtools keeps it up to date, and mdir
// reports it); nullopt when the sector is not one or holds no count that fits `clusters`.
std::optional<std::uint64_t> FsInfoFreeClusters(const std::array<std::uint8_t, 512>& fsInfo,
                                                std::uint64_t clusters);

// The free clusters the table `table` (a whole copy) lists for a FAT of `clusters` data clusters;
// its entries are 12, 16 or 28 bits wide, as the cluster count decides.
std::uint64_t CountFreeClusters(std::span<const std::uint8_t> table, std::uint64_t clusters);

} // namespace vornel::fbinst
