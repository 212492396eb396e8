#pragma once
// The boot loader's pieces as the disk tool installs them: GRUB's MBR code and core image, and the
// config translated from the boot menus, all from the loader library.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vornel::fbinst {

std::span<const std::uint8_t> BootLoaderMbrCode();
std::span<const std::uint8_t> BootLoaderCore();
// Where the loader reads its config inside the boot area.
std::string BootLoaderConfigPath();
std::string BootLoaderConfig(const std::vector<std::string>& fbCfgLines,
                             const std::vector<std::string>& menuLstLines);

} // namespace vornel::fbinst
