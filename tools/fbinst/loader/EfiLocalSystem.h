#pragma once
// The local-disk entry on UEFI: the PC's own system, started from the EFI system partition of a
// disk other than the stick.

#include "loader/GrubScript.h"

#include <string>

namespace vornel::fbinst::loader {

// The GRUB functions for the config's preamble.
std::string EfiLocalSystemFunctions(const MenuReturn& back);

// The command that starts the PC's own system: its boot manager (Windows Boot Manager, another
// system's shim or GRUB, or the removable-media program, in this order). When one starts and
// comes back, or none can start, it says so and gives the menu back; it returns false when no
// disk but the stick holds a boot manager.
std::string EfiLocalSystemCall();

} // namespace vornel::fbinst::loader
