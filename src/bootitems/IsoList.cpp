#include "bootitems/IsoList.h"

#include "platform/Files.h"

namespace vornel::bootitems {

std::string IsoListPath(const std::string& dataFolder) {
    return dataFolder + "isolist";
}

TISOFileInfo SplitIsoLine(const std::string& line) {
    size_t bar = line.find('|');
    if (bar == std::string::npos)
        return {std::string(), line};
    return {line.substr(0, bar), line.substr(bar + 1)};
}

std::string JoinIsoLine(const TISOFileInfo& item) {
    return item.Title + "|" + item.ImagePath;
}

std::vector<TISOFileInfo> ReadIsoList(const std::string& path) {
    std::vector<TISOFileInfo> items;
    for (const auto& line : platform::ReadTextLines(path))
        items.push_back(SplitIsoLine(line));
    return items;
}

void WriteIsoList(const std::string& path, const std::vector<TISOFileInfo>& items) {
    std::vector<std::string> lines;
    lines.reserve(items.size());
    for (const auto& item : items)
        lines.push_back(JoinIsoLine(item));
    platform::WriteFileAtomically(path, platform::JoinLinesCrLf(lines));
}

} // namespace vornel::bootitems
