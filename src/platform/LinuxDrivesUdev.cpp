#include "platform/LinuxDrivesUdev.h"

#include "platform/Files.h"
#include "platform/Sysfs.h"

namespace vornel::platform {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The "dev" number of the disk's partition with the lowest number, or of the disk itself.
std::optional<std::string> FirstPartitionDevice(const std::string& diskFolder) {
    std::optional<std::string> best;
    long bestNumber = 0;
    for (const SysfsPartition& partition : Partitions(diskFolder)) {
        const std::string& number = partition.number;
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
            number.size() > 9 || !partition.device)
            continue;
        const long value = std::stol(number);
        if (!best || value < bestNumber) {
            best = partition.device;
            bestNumber = value;
        }
    }
    return best ? best : ReadTrimmedFile(diskFolder + "/dev");
}

} // namespace

std::optional<std::string> UdevProperty(const LinuxDriveSources& sources, const std::string& device,
                                        const std::string& key) {
    std::optional<std::string> text = ReadTrimmedFile(sources.udevDataRoot + "/b" + device);
    if (!text)
        return std::nullopt;
    const std::string prefix = "E:" + key + "=";
    for (const std::string& line : SplitLines(*text)) {
        if (line.starts_with(prefix))
            return line.substr(prefix.size());
    }
    return std::nullopt;
}

std::string DecodeUdevEscapes(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const int high = HexValue(text[i + 2]);
            const int low = HexValue(text[i + 3]);
            if (high >= 0 && low >= 0) {
                decoded += static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

std::optional<std::string> UdevVolumeLabel(const LinuxDriveSources& sources, const std::string& blockName) {
    std::optional<std::string> device = FirstPartitionDevice(BlockFolder(sources.sysfsRoot, blockName));
    if (!device)
        return std::nullopt;
    if (std::optional<std::string> encoded = UdevProperty(sources, *device, "ID_FS_LABEL_ENC"))
        return DecodeUdevEscapes(*encoded);
    return UdevProperty(sources, *device, "ID_FS_LABEL");
}

} // namespace vornel::platform
