#pragma once
// What each command does to the drive. Every function throws Failure on any problem and
// returns only when the work is done and flushed to the medium. The drive comes opened, checked,
// locked and with nothing of it mounted: a command works on it from its first write to its last.

#include "Disk.h"
#include "Layout.h"

#include <ostream>
#include <string>

namespace vornel::fbinst {

// Partition table, boot loader, boot area and data partition (see docs/disk-layout.md).
void FormatBoot(Disk& drive, const BootRequest& request, std::ostream& out);
// One FAT32 partition over the whole drive; boot code and boot area gone.
void FormatRestore(Disk& drive, std::ostream& out);
// Appends `line` to the boot area's text file `file` and refreshes the loader's config.
void AddMenuLine(Disk& drive, const std::string& file, const std::string& line, std::ostream& out);
// Copies `source` into the boot area as `name`, then reads it back and compares.
void AddFile(Disk& drive, const std::string& name, const std::string& source, std::ostream& out);
void ShowInfo(const Disk& drive, std::ostream& out);
void ListFiles(const Disk& drive, std::ostream& out);
void CatFile(const Disk& drive, const std::string& name, std::ostream& out);

} // namespace vornel::fbinst
