#pragma once
// The read-back after a copy: the file's clusters, as mtools reports them, read straight from
// the drive and compared with the source. Reading raw sectors keeps the check as fast as the copy.

#include "Disk.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::fbinst {

// Where a FAT keeps cluster data, from its boot sector.
struct FatGeometry {
    std::uint64_t clusterBytes = 0;
    std::uint64_t dataStartBytes = 0; // from the file system's first sector
};

struct ClusterRun {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// Throws Failure when the boot sector's fields make no sense.
FatGeometry ParseFatGeometry(const std::array<std::uint8_t, 512>& bootSector);

// "::/a.iso <106644-153291> <5-84428>" as mshowfat prints it; throws Failure on other text.
std::vector<ClusterRun> ParseClusterRuns(const std::string& mshowfatLine);

// Throws Failure unless the file of `fileBytes` at `runs` in the FAT at byte `fatStart` holds
// exactly the bytes of `sourcePath`. Counts the bytes compared so far in `checkedBytes`, if given.
void CheckCopy(const Disk& disk, std::uint64_t fatStart, const std::vector<ClusterRun>& runs,
               std::uint64_t fileBytes, const std::string& sourcePath,
               std::atomic<std::uint64_t>* checkedBytes = nullptr);

} // namespace vornel::fbinst
