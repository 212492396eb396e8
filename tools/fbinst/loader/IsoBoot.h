#pragma once
// Booting a custom ISO from what it holds, decided by the loader at boot: the ISO's own menu for
// being booted from a file (GRUB's loopback.cfg convention), or the kernel of a known live or
// install layout, told where its ISO is so that the started system finds it again.

#include <string>

namespace vornel::fbinst::loader {

// The GRUB function that boots an ISO this way, for the config's preamble. `sayAndWait` are the
// config lines that tell the user the menu comes back and wait, for when the kernel fails.
std::string IsoBootFunction(const std::string& sayAndWait);

// The command calling that function for the ISO at `image` (a path in the boot area). It
// returns false, having changed nothing, when the ISO holds nothing the function knows.
std::string IsoBootCall(const std::string& image);

} // namespace vornel::fbinst::loader
