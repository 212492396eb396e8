#pragma once
// Images too large for the boot area's FAT (4 GiB and more): each is written raw into an image
// partition that the boot format reserved for it (format -i), and read back from the medium.

#include "Disk.h"

#include <ostream>
#include <string>

namespace vornel::fbinst {

// Writes `source` into the image partition in table slot `slot` of a drive with a boot area:
// a slot the boot layout leaves free in its mode, holding a partition of the image type that lies
// inside the drive, overlaps no other and is large enough. The source's holes become zeros
// without being written out (an image file stays sparse). Then the drive is flushed and the image
// read back past the page cache and compared; when the write or the check fails, the start of the
// partition is cleared, so no partial image passes for one.
void WriteImagePartition(Disk& drive, int slot, const std::string& source, std::ostream& out);

} // namespace vornel::fbinst
