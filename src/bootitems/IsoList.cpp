#include "bootitems/IsoList.h"

#include "package/Cp936.h"
#include "platform/Files.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vornel::bootitems {

std::string IsoListPath(const std::string& dataFolder) {
    return IsoListPathFor(dataFolder, UserConfigHome());
}

std::string IsoListPathFor(const std::string& dataFolder, const std::string& configHome) {
    if (::access(dataFolder.c_str(), W_OK) == 0)
        return dataFolder + "isolist";
    const std::string folder = configHome + "/vornel";
    // Each level is made on its own so only the folders made here get the owner-only mode; an
    // existing one is fine, and a failure shows when the list is saved.
    for (const std::string& level : {configHome, folder})
        ::mkdir(level.c_str(), 0700);
    return folder + "/isolist";
}

std::string UserConfigHome() {
    return platform::UserFolder("XDG_CONFIG_HOME", ".config");
}

bool PathFitsCommandLine(const std::string& path) {
    return path.find('"') == std::string::npos && (path.empty() || path.back() != '\\');
}

namespace {

// A line as text: UTF-8 as it is, code page 936 converted; other bytes stay as they are.
std::string LineText(const std::string& line) {
    if (package::IsUtf8(line))
        return line;
    return package::Cp936ToUtf8(line).value_or(line);
}

// The line to write for an item: its own bytes while it is what they read as and they are not
// UTF-8 (rewriting them would lose the encoding, or bytes that have none).
std::string LineToWrite(const TISOFileInfo& item) {
    if (!item.SourceLine.empty() && !package::IsUtf8(item.SourceLine)) {
        const TISOFileInfo read = SplitIsoLine(LineText(item.SourceLine));
        if (read.Title == item.Title && read.ImagePath == item.ImagePath)
            return item.SourceLine;
    }
    return JoinIsoLine(item);
}

} // namespace

TISOFileInfo SplitIsoLine(const std::string& line) {
    size_t bar = line.find('|');
    if (bar == std::string::npos)
        return {std::string(), line};
    return {line.substr(0, bar), line.substr(bar + 1)};
}

std::string JoinIsoLine(const TISOFileInfo& item) {
    return item.Title + "|" + item.ImagePath;
}

std::string ImageOnDisk(const TISOFileInfo& item) {
    if (platform::FileExists(item.ImagePath) || package::IsUtf8(item.SourceLine))
        return item.ImagePath;
    const std::string stored = SplitIsoLine(item.SourceLine).ImagePath;
    return platform::FileExists(stored) ? stored : item.ImagePath;
}

std::vector<TISOFileInfo> ReadIsoList(const std::string& path) {
    std::vector<TISOFileInfo> items;
    for (const auto& line : platform::ReadTextLines(path)) {
        TISOFileInfo item = SplitIsoLine(LineText(line));
        item.SourceLine = line;
        items.push_back(std::move(item));
    }
    return items;
}

void WriteIsoList(const std::string& path, const std::vector<TISOFileInfo>& items) {
    // A folder that could not be made for the list says why (a read-only configuration folder),
    // where the write would only find it missing.
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw platform::EFCreateError(path, errno);
    std::vector<std::string> lines;
    lines.reserve(items.size());
    for (const auto& item : items)
        lines.push_back(LineToWrite(item));
    platform::WriteFileAtomically(path, platform::JoinLinesCrLf(lines));
}

} // namespace vornel::bootitems
