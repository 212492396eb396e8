#pragma once
// Reading a copy back from the drive's medium and comparing it with its source, byte range by byte
// range. The drive is read past the page cache, which still holds what was written: only the
// medium tells whether the stick kept it.

#include "Disk.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::fbinst {

// `bytes` of the source from `sourceOffset` were written to the drive from `driveOffset`.
struct CopiedRange {
    std::uint64_t sourceOffset = 0;
    std::uint64_t driveOffset = 0;
    std::uint64_t bytes = 0;
};

// Throws Failure unless the drive's medium holds the bytes of `sourcePath` at every range; the
// drive must have been flushed. Each drive offset is a whole sector; a range is read to a whole
// sector, so the sectors it ends in must be the drive's. Counts the bytes compared so far in
// `checkedBytes`, if given.
void CheckRawCopy(const Disk& drive, const std::vector<CopiedRange>& ranges, const std::string& sourcePath,
                  std::atomic<std::uint64_t>* checkedBytes = nullptr);

} // namespace vornel::fbinst
