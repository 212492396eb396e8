#pragma once
// Where everything goes on a stick: the partition plans of the boot layout (both modes) and of
// the restored drive, the partition script for sfdisk, and the reading of an MBR's table.
// All positions are 512-byte sectors.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vornel::fbinst {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kMiBSectors = 2048;
// The boot area sits in the same table slot in both modes, so the loader finds it without a search.
constexpr int kBootAreaSlot = 2;
constexpr int kHddDataSlot = 1;
constexpr int kZipDataSlot = 4;
constexpr std::uint8_t kTypeFat32Lba = 0x0c;
constexpr std::uint8_t kTypeHiddenFat32Lba = 0x1c;
constexpr std::uint8_t kTypeHiddenFat16Lba = 0x1e;
// An image written raw into a partition of its own (an ISO 9660 of 4 GiB or more): a hidden type
// ("hidden IFS"), to which Windows gives no drive letter and so never offers to format it.
constexpr std::uint8_t kTypeImagePartition = 0x17;
// The boot area's FAT volume label: with the slot and the type, the mark that the area is ours.
constexpr const char* kBootAreaLabel = "VORNELBOOT";
constexpr std::uint64_t kMinBootAreaSectors = 4 * kMiBSectors;
constexpr std::uint64_t kMinDataSectors = 34 * kMiBSectors; // FAT32 needs 65525 clusters
constexpr std::uint64_t kFat32BootAreaFrom = 512 * kMiBSectors;

enum class Mode { Hdd, Zip };
enum class FatKind { Fat16, Fat32 };

struct Geometry {
    unsigned heads;
    unsigned sectorsPerTrack;
};
constexpr Geometry kHddGeometry{255, 63};
constexpr Geometry kZipGeometry{64, 32};

struct Partition {
    int slot = 0; // 1 to 4
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
    std::uint8_t type = 0;
    bool active = false;
    std::uint64_t End() const { return start + sectors; }
};

struct BootLayout {
    Mode mode = Mode::Hdd;
    Partition bootArea;
    FatKind bootAreaFat = FatKind::Fat16;
    // Between the boot area and the data partition, in the order asked for; near the drive's
    // start, where every BIOS reads.
    std::vector<Partition> images;
    Partition data;
};

struct BootRequest {
    Mode mode = Mode::Hdd;
    bool align = false;
    std::uint64_t primaryBytes = 0;
    std::uint64_t bootAreaBytes = 0;
    std::vector<std::uint64_t> imagePartitionBytes = {};
};

// The table slot of image partition `index` (from 0) in `mode`.
int ImagePartitionSlot(Mode mode, std::size_t index);

// Throws Failure when the areas do not fit the drive or the loader's core (coreBytes) does not
// fit the primary area. With `align`, each image partition is a whole number of MiB.
BootLayout PlanBootLayout(const BootRequest& request, std::uint64_t diskSectors, std::uint64_t coreBytes);

// One FAT32 partition in slot 1 from 1 MiB to the end. Throws Failure on a drive too small.
Partition PlanRestoreLayout(std::uint64_t diskSectors);

// Sectors per cluster that keep a FAT16 of `sectors` within its 4085 to 65524 clusters.
unsigned Fat16SectorsPerCluster(std::uint64_t sectors);

// The sfdisk script that writes exactly these partitions (in their slots) to `devicePath`.
std::string SfdiskScript(const std::string& devicePath, const std::vector<Partition>& partitions);

// The three CHS bytes of an MBR entry for `lba`; beyond cylinder 1023 the largest address.
std::array<std::uint8_t, 3> ChsAddress(std::uint64_t lba, Geometry geometry);

// Rewrites the CHS fields of every used entry of an MBR sector for `geometry`.
void RewriteChs(std::span<std::uint8_t, kSectorBytes> mbr, Geometry geometry);

// The used slots of an MBR sector; empty when the sector has no 55 AA mark.
std::vector<Partition> ReadPartitionTable(std::span<const std::uint8_t, kSectorBytes> mbr);

} // namespace vornel::fbinst
