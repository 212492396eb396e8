#include "BootLoader.h"

#include "loader/Loader.h"

namespace vornel::fbinst {

std::span<const std::uint8_t> BootLoaderMbrCode() {
    return loader::MbrBootCode();
}

std::span<const std::uint8_t> BootLoaderCore() {
    return loader::CoreImage();
}

std::string BootLoaderConfigPath() {
    return loader::kConfigPath;
}

std::string BootLoaderConfig(const std::vector<std::string>& fbCfgLines,
                             const std::vector<std::string>& menuLstLines) {
    return loader::TranslateMenus(fbCfgLines, menuLstLines);
}

} // namespace vornel::fbinst
