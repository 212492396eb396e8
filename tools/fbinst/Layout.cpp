#include "Layout.h"

#include "Failure.h"
#include "disktool/CommandLines.h"
#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstdio>

namespace vornel::fbinst {

namespace {

constexpr std::uint64_t kMbrMaxSectors = 0xFFFFFFFFull;
constexpr std::size_t kTableOffset = 446;
constexpr std::size_t kEntryBytes = 16;

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t step) {
    return (value + step - 1) / step * step;
}

std::string MiB(std::uint64_t sectors) {
    return std::to_string(sectors / kMiBSectors) + " MiB";
}

// The 32-bit field at `field` of the table's entry `slot`.
std::uint64_t EntryField(std::span<const std::uint8_t, kSectorBytes> mbr, std::size_t slot,
                         std::size_t field) {
    return platform::LoadLittleEndian(mbr, kTableOffset + slot * kEntryBytes + field, 4);
}

} // namespace

int ImagePartitionSlot(Mode mode, std::size_t index) {
    return disktool::ImagePartitionSlot(mode == Mode::Zip, static_cast<int>(index));
}

BootLayout PlanBootLayout(const BootRequest& request, std::uint64_t diskSectors, std::uint64_t coreBytes) {
    if (request.primaryBytes % kSectorBytes != 0 || request.bootAreaBytes % kSectorBytes != 0)
        throw Failure("the sizes of the areas must be whole 512-byte sectors");
    BootLayout layout;
    layout.mode = request.mode;

    std::uint64_t bootStart = request.primaryBytes / kSectorBytes;
    if (request.align)
        bootStart = RoundUp(bootStart, kMiBSectors);
    const std::uint64_t coreSectors = (coreBytes + kSectorBytes - 1) / kSectorBytes;
    if (bootStart < 1 + coreSectors)
        throw Failure("the primary area (" + std::to_string(bootStart * kSectorBytes) +
                      " bytes) is too small for the boot loader's core (" + std::to_string(coreBytes) +
                      " bytes after the MBR)");

    const std::uint64_t bootSectors = request.bootAreaBytes / kSectorBytes;
    if (bootSectors < kMinBootAreaSectors)
        throw Failure("the boot area must be at least " + MiB(kMinBootAreaSectors));
    layout.bootAreaFat = bootSectors >= kFat32BootAreaFrom ? FatKind::Fat32 : FatKind::Fat16;
    layout.bootArea =
        Partition{kBootAreaSlot, bootStart, bootSectors,
                  layout.bootAreaFat == FatKind::Fat32 ? kTypeHiddenFat32Lba : kTypeHiddenFat16Lba, true};

    if (request.imagePartitionBytes.size() > static_cast<std::size_t>(disktool::kMaxImagePartitions))
        throw Failure("at most " + std::to_string(disktool::kMaxImagePartitions) +
                      " image partitions fit the partition table");
    std::uint64_t next = layout.bootArea.End();
    for (std::size_t i = 0; i < request.imagePartitionBytes.size(); ++i) {
        const std::uint64_t bytes = request.imagePartitionBytes[i];
        if (bytes % kSectorBytes != 0)
            throw Failure("the sizes of the areas must be whole 512-byte sectors");
        std::uint64_t sectors = bytes / kSectorBytes;
        // Checked before any sum, which could overflow.
        if (sectors > diskSectors || next > diskSectors)
            throw Failure("an image partition of " + MiB(sectors) + " does not fit the drive (" +
                          MiB(diskSectors) + ")");
        const std::uint64_t start = request.align ? RoundUp(next, kMiBSectors) : next;
        if (request.align)
            sectors = RoundUp(sectors, kMiBSectors);
        layout.images.push_back(
            Partition{ImagePartitionSlot(request.mode, i), start, sectors, kTypeImagePartition, false});
        next = start + sectors;
    }

    std::uint64_t dataStart = next;
    if (request.align)
        dataStart = RoundUp(dataStart, kMiBSectors);
    const std::uint64_t needed = dataStart + kMinDataSectors;
    if (needed > diskSectors || dataStart >= kMbrMaxSectors)
        throw Failure("the areas do not fit the drive: they need at least " +
                      MiB(RoundUp(needed, kMiBSectors)) + " with the data partition, the drive has " +
                      MiB(diskSectors));
    const std::uint64_t dataSectors = std::min(diskSectors, kMbrMaxSectors) - dataStart;
    layout.data = Partition{request.mode == Mode::Zip ? kZipDataSlot : kHddDataSlot, dataStart, dataSectors,
                            kTypeFat32Lba, false};
    return layout;
}

Partition PlanRestoreLayout(std::uint64_t diskSectors) {
    if (diskSectors < kMiBSectors + kMinDataSectors)
        throw Failure("the drive (" + MiB(diskSectors) + ") is too small for a FAT32 partition");
    const std::uint64_t end = std::min(diskSectors, kMbrMaxSectors);
    return Partition{kHddDataSlot, kMiBSectors, end - kMiBSectors, kTypeFat32Lba, false};
}

unsigned Fat16SectorsPerCluster(std::uint64_t sectors) {
    unsigned perCluster = 1;
    // 65000 leaves room for the sectors the FATs and the root folder take.
    while (sectors / perCluster > 65000 && perCluster < 128)
        perCluster *= 2;
    return perCluster;
}

std::string SfdiskScript(const std::string& devicePath, const std::vector<Partition>& partitions) {
    // sfdisk takes the slot from the trailing number of the name; a path ending in a digit
    // names its partitions with a "p" between, as the kernel does.
    const bool digitEnd = !devicePath.empty() && devicePath.back() >= '0' && devicePath.back() <= '9';
    std::string script = "label: dos\nunit: sectors\n\n";
    for (const Partition& p : partitions) {
        char type[8];
        std::snprintf(type, sizeof type, "%x", p.type);
        script += devicePath + (digitEnd ? "p" : "") + std::to_string(p.slot) +
                  " : start=" + std::to_string(p.start) + ", size=" + std::to_string(p.sectors) +
                  ", type=" + type + (p.active ? ", bootable" : "") + "\n";
    }
    return script;
}

std::array<std::uint8_t, 3> ChsAddress(std::uint64_t lba, Geometry geometry) {
    const std::uint64_t perCylinder = std::uint64_t{geometry.heads} * geometry.sectorsPerTrack;
    std::uint64_t cylinder = lba / perCylinder;
    std::uint64_t head = lba / geometry.sectorsPerTrack % geometry.heads;
    std::uint64_t sector = lba % geometry.sectorsPerTrack + 1;
    if (cylinder > 1023) {
        cylinder = 1023;
        head = geometry.heads - 1;
        sector = geometry.sectorsPerTrack;
    }
    return {static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(sector | (cylinder >> 8) << 6),
            static_cast<std::uint8_t>(cylinder & 0xFF)};
}

void RewriteChs(std::span<std::uint8_t, kSectorBytes> mbr, Geometry geometry) {
    for (std::size_t slot = 0; slot < 4; ++slot) {
        std::uint8_t* entry = mbr.data() + kTableOffset + slot * kEntryBytes;
        const std::uint64_t start = EntryField(mbr, slot, 8);
        const std::uint64_t count = EntryField(mbr, slot, 12);
        if (entry[4] == 0 || count == 0)
            continue;
        const auto first = ChsAddress(start, geometry);
        const auto last = ChsAddress(start + count - 1, geometry);
        std::copy(first.begin(), first.end(), entry + 1);
        std::copy(last.begin(), last.end(), entry + 5);
    }
}

std::vector<Partition> ReadPartitionTable(std::span<const std::uint8_t, kSectorBytes> mbr) {
    std::vector<Partition> partitions;
    if (mbr[510] != 0x55 || mbr[511] != 0xAA)
        return partitions;
    for (std::size_t slot = 0; slot < 4; ++slot) {
        const std::uint8_t* entry = mbr.data() + kTableOffset + slot * kEntryBytes;
        Partition p{static_cast<int>(slot + 1), EntryField(mbr, slot, 8), EntryField(mbr, slot, 12), entry[4],
                    entry[0] == 0x80};
        if (p.type != 0 && p.sectors != 0)
            partitions.push_back(p);
    }
    return partitions;
}

} // namespace vornel::fbinst
