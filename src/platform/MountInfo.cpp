#include "platform/MountInfo.h"

#include "platform/ReadWrite.h"
#include "platform/Sysfs.h"

#include <sstream>

namespace vornel::platform {

namespace {

bool IsOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

std::string Unescape(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
            IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

} // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    std::vector<MountEntry> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint;
        if (!(fields >> id >> parent >> number >> root >> mountPoint))
            continue;
        if (const std::optional<dev_t> device = ParseDeviceNumber(number))
            mounts.push_back({*device, Unescape(mountPoint)});
    }
    return mounts;
}

std::vector<MountEntry> ReadMountInfo(const std::string& path) {
    std::string text;
    ReadWholeFile(path, text); // an unreadable file lists nothing
    return ParseMountInfo(text);
}

} // namespace vornel::platform
