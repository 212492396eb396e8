#pragma once
// The boot menu menu.lst: the fixed head defMenu.txt followed by one entry per custom boot item.

#include "bootitems/IsoList.h"

#include <map>
#include <string>
#include <vector>

namespace vornel::builder {

// The image's extension: the text from its last "." after its last "/" or "\", with A-Z
// lower-cased (other letters stay as they are); empty when there is none.
std::string ImageExtension(const std::string& imagePath);

// Where custom item n's image lies on the stick: boot/customISO_<n><ext>.
std::string CustomImageOnStick(size_t n, const std::string& imagePath);

// The table slots of the partitions that hold the images too large for the boot area, by item
// number; every other item's image lies in the boot area as a file.
using PartitionSlots = std::map<size_t, int>;

// Writes workFolder + "menu.lst": every line of workFolder + "defMenu.txt" unchanged (any line
// ending), then for item n an empty line, "title " + Title and, for ".img" and ".iso" images,
// the lines that map boot/customISO_<n><ext> from the stick; an ISO in a partition of its own is
// mapped from that partition of the boot disk, "(hd0,S-1)" for slot S, as a CD drive. Every line
// ends in CR LF. Throws platform::EFOpenError when defMenu.txt cannot be read (menu.lst is then
// not written) and platform::EFCreateError when menu.lst cannot be written.
void WriteBootMenu(const std::string& workFolder, const std::vector<bootitems::TISOFileInfo>& items,
                   const PartitionSlots& partitionSlots = {});

} // namespace vornel::builder
