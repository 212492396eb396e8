#include "builder/BootMenu.h"

#include "platform/Ascii.h"
#include "platform/Files.h"

namespace vornel::builder {

namespace {

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

void AppendItemBlock(std::vector<std::string>& lines, size_t number, const bootitems::TISOFileInfo& item,
                     const PartitionSlots& partitionSlots) {
    // The titles are UTF-8 already (the whole program keeps its text in UTF-8), so the lines go
    // out as they are; the boot loader reads its menu as UTF-8.
    const std::string image = "map --mem (ud)/" + CustomImageOnStick(number, item.ImagePath);
    const std::string extension = ImageExtension(item.ImagePath);
    lines.emplace_back();
    lines.push_back("title " + item.Title);
    if (const auto slot = partitionSlots.find(number); slot != partitionSlots.end()) {
        lines.push_back("map (hd0," + std::to_string(slot->second - 1) + ") (0xFF)");
        lines.emplace_back("map --hook");
        lines.emplace_back("chainloader (0xFF)");
    } else if (extension == ".img") {
        lines.push_back(image + " (fd0)");
        lines.emplace_back("map --hook");
        lines.emplace_back("rootnoverify (fd0)");
        lines.emplace_back("chainloader +1");
    } else if (extension == ".iso") {
        lines.push_back(image + " (0xFF)");
        lines.emplace_back("map --hook");
        lines.emplace_back("chainloader (0xFF)");
    }
}

} // namespace

std::string ImageExtension(const std::string& imagePath) {
    size_t dot = imagePath.rfind('.');
    if (dot == std::string::npos)
        return {};
    size_t separator = imagePath.find_last_of("/\\");
    if (separator != std::string::npos && separator > dot)
        return {};
    return platform::AsciiLower(imagePath.substr(dot));
}

std::string CustomImageOnStick(size_t n, const std::string& imagePath) {
    return "boot/customISO_" + std::to_string(n) + ImageExtension(imagePath);
}

void WriteBootMenu(const std::string& workFolder, const std::vector<bootitems::TISOFileInfo>& items,
                   const PartitionSlots& partitionSlots) {
    const std::string folder = WithTrailingSlash(workFolder);
    std::vector<std::string> lines = platform::ReadTextLines(folder + "defMenu.txt");
    for (size_t n = 0; n < items.size(); ++n)
        AppendItemBlock(lines, n, items[n], partitionSlots);
    platform::WriteFileAtomically(folder + "menu.lst", platform::JoinLinesCrLf(lines));
}

} // namespace vornel::builder
