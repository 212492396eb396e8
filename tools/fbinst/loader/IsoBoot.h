#pragma once
// Booting a custom ISO from what it holds, decided by the loader at boot: the ISO's own menu for
// being booted from a file (GRUB's loopback.cfg convention), or the kernel of a known live or
// install layout, told where its ISO is so that the started system finds it again; on UEFI also
// the ISO's own UEFI program.

#include "loader/GrubScript.h"

#include <string>

namespace vornel::fbinst::loader {

// The GRUB functions that boot an ISO these ways, for the config's preamble.
std::string IsoBootFunctions(const MenuReturn& back);

// The command calling the function for the ISO at `image` (a path in the boot area) that boots
// its kernel. It returns false, having changed nothing, when the ISO holds nothing it knows.
std::string IsoBootCall(const std::string& image);

// The command, for UEFI, starting the ISO's UEFI program: the removable-media program
// (EFI/BOOT/BOOTX64.EFI in any case) in the ISO's files, else in its El Torito EFI image where
// that is a file of the ISO. Where none starts it says why and gives the menu back.
std::string IsoEfiProgramCall(const std::string& image);

} // namespace vornel::fbinst::loader
