#pragma once
// Finding the boot area of a formatted drive again: by its table slot, its partition type and
// the label in its FAT boot sector. Nothing is guessed: any mismatch means "not formatted".

#include "Disk.h"
#include "Layout.h"

#include <optional>
#include <string>
#include <vector>

namespace vornel::fbinst {

struct FoundLayout {
    Mode mode = Mode::Hdd;
    Partition bootArea;
    FatKind bootAreaFat = FatKind::Fat16;
    std::optional<Partition> data;
    std::vector<Partition> table;
};

// nullopt and `whyNot` when the drive holds no boot area of this tool.
std::optional<FoundLayout> FindBootArea(const Disk& disk, std::string& whyNot);

} // namespace vornel::fbinst
