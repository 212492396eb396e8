#include "BootLoader.h"

#ifdef VORNEL_FBINST_HAS_LOADER
#include "loader/Loader.h"
#endif

namespace vornel::fbinst {

#ifdef VORNEL_FBINST_HAS_LOADER
bool HasBootLoader() {
    return true;
}
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
#else
bool HasBootLoader() {
    return false;
}
std::span<const std::uint8_t> BootLoaderMbrCode() {
    return {};
}
std::span<const std::uint8_t> BootLoaderCore() {
    return {};
}
std::string BootLoaderConfigPath() {
    return {};
}
std::string BootLoaderConfig(const std::vector<std::string>&, const std::vector<std::string>&) {
    return {};
}
#endif

} // namespace vornel::fbinst
