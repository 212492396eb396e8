#include "BootArea.h"

#include "platform/LittleEndian.h"

#include <array>
#include <cstring>
#include <span>

namespace vornel::fbinst {

namespace {

using platform::LoadLittleEndian;

// mtools trusts the file system's own fields, not the table: a file system larger than its slot,
// or one placed elsewhere, would have writes land outside the boot area. Empty when it fits.
std::string FileSystemMisfit(std::span<const std::uint8_t, kSectorBytes> bootSector, const Partition& slot,
                             const std::vector<Partition>& table) {
    const std::uint64_t sectorBytes = LoadLittleEndian(bootSector, 11, 2);
    const std::uint64_t total = LoadLittleEndian(bootSector, 19, 2) != 0
                                    ? LoadLittleEndian(bootSector, 19, 2)
                                    : LoadLittleEndian(bootSector, 32, 4);
    const std::uint64_t hidden = LoadLittleEndian(bootSector, 28, 4);
    if (sectorBytes != kSectorBytes)
        return "it has " + std::to_string(sectorBytes) + "-byte sectors";
    if (total == 0 || total > slot.sectors)
        return "it claims " + std::to_string(total) + " sectors, the slot holds " +
               std::to_string(slot.sectors);
    if (hidden != slot.start)
        return "it says it starts at sector " + std::to_string(hidden) + ", the slot at " +
               std::to_string(slot.start);
    if (slot.start == 0)
        return "the slot covers the partition table";
    for (const Partition& other : table)
        if (other.slot != slot.slot && other.start < slot.End() && slot.start < other.End())
            return "the slot overlaps partition " + std::to_string(other.slot);
    return {};
}

} // namespace

std::optional<FoundLayout> FindBootArea(const Disk& disk, std::string& whyNot) {
    std::array<std::uint8_t, kSectorBytes> mbr{};
    disk.ReadAt(0, mbr);
    FoundLayout found;
    found.table = ReadPartitionTable(mbr);
    const Partition* boot = nullptr;
    for (const Partition& p : found.table) {
        // An image partition may sit in the other mode's data slot (4 in USB-HDD, 1 in USB-ZIP).
        if (p.slot == kBootAreaSlot)
            boot = &p;
        else if ((p.slot == kHddDataSlot || p.slot == kZipDataSlot) && p.type != kTypeImagePartition)
            found.data = p;
    }
    if (boot == nullptr || (boot->type != kTypeHiddenFat16Lba && boot->type != kTypeHiddenFat32Lba)) {
        whyNot = "the drive has no boot area (format it first)";
        return std::nullopt;
    }
    if (boot->End() > disk.Sectors()) {
        whyNot = "the boot area's partition runs past the end of the drive";
        return std::nullopt;
    }
    found.bootArea = *boot;
    found.bootAreaFat = boot->type == kTypeHiddenFat32Lba ? FatKind::Fat32 : FatKind::Fat16;
    found.mode = found.data && found.data->slot == kZipDataSlot ? Mode::Zip : Mode::Hdd;

    std::array<std::uint8_t, kSectorBytes> bootSector{};
    disk.ReadAt(boot->start * kSectorBytes, bootSector);
    // Label and file system name sit at 43/54 on FAT16 and at 71/82 on FAT32.
    const bool fat32 = found.bootAreaFat == FatKind::Fat32;
    const std::size_t labelAt = fat32 ? 71 : 43;
    const std::size_t nameAt = fat32 ? 82 : 54;
    std::string label(kBootAreaLabel);
    label.resize(11, ' ');
    const std::string fsName = fat32 ? "FAT32   " : "FAT16   ";
    if (bootSector[510] != 0x55 || bootSector[511] != 0xAA ||
        std::memcmp(bootSector.data() + labelAt, label.data(), label.size()) != 0 ||
        std::memcmp(bootSector.data() + nameAt, fsName.data(), fsName.size()) != 0) {
        whyNot = "the partition in the boot area's slot is not this tool's boot area";
        return std::nullopt;
    }
    if (const std::string misfit = FileSystemMisfit(bootSector, *boot, found.table); !misfit.empty()) {
        whyNot = "the boot area's file system does not fit its partition slot: " + misfit;
        return std::nullopt;
    }
    return found;
}

} // namespace vornel::fbinst
