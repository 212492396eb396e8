#pragma once
// The boot loader's pieces as the disk tool installs them. A build without the loader library
// gives empty pieces and no config; the tool's layout is the same either way.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vornel::fbinst {

bool HasBootLoader();
std::span<const std::uint8_t> BootLoaderMbrCode();
std::span<const std::uint8_t> BootLoaderCore();
// Where the loader reads its config inside the boot area; empty without the loader.
std::string BootLoaderConfigPath();
std::string BootLoaderConfig(const std::vector<std::string>& fbCfgLines,
                             const std::vector<std::string>& menuLstLines);

} // namespace vornel::fbinst
