#pragma once
// The read-back after a copy: the file's clusters, as mtools reports them, read from the drive's
// medium after the final flush (never from the page cache, which still holds what was written)
// and compared with the source. Reading raw sectors in large pieces keeps the check as fast as a
// plain read of the same bytes.

#include "FatGeometry.h"
#include "Medium.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::fbinst {

struct ClusterRun {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

// The geometry of the FAT at byte `fatStart`, from its boot sector on the medium.
FatGeometry ReadFatGeometry(const Medium& medium, std::uint64_t fatStart);

// "::/a.iso <106644-153291> <5-84428>" as mshowfat prints it; throws Failure on other text.
std::vector<ClusterRun> ParseClusterRuns(const std::string& mshowfatLine);

// `bytes` of the source from `sourceOffset` were written to the drive from `driveOffset`, a whole
// sector; the range is read to a whole sector, so the sector it ends in must be the drive's.
struct CopiedRange {
    std::uint64_t sourceOffset = 0;
    std::uint64_t driveOffset = 0;
    std::uint64_t bytes = 0;
};

// Throws Failure unless `medium` holds the bytes of `sourcePath` at every range; when they differ,
// with kExitCopyDiffers and the first byte that does. `copyName` names the copy in messages ("the
// copy of \"a.iso\""). Counts the bytes compared so far in `checkedBytes`, if given.
void CheckRanges(const Medium& medium, const std::vector<CopiedRange>& ranges, const std::string& sourcePath,
                 const std::string& copyName, std::atomic<std::uint64_t>* checkedBytes = nullptr);

// A copied file on the drive.
struct CopyOnDrive {
    std::string name;           // in the boot area, for messages
    std::uint64_t fatStart = 0; // the FAT's first byte on the drive
    std::vector<ClusterRun> runs;
    std::uint64_t bytes = 0;
};

// CheckRanges over the copy's clusters, once its size and cluster count are the source's.
void CheckCopy(const Medium& medium, const CopyOnDrive& copy, const std::string& sourcePath,
               std::atomic<std::uint64_t>* checkedBytes = nullptr);

} // namespace vornel::fbinst
