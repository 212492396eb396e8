#include "drives/DiskModel.h"

#include "platform/Ascii.h"

#include <vector>

namespace vornel::drives {

namespace {

std::string Underscored(std::string text) {
    for (char& c : text) {
        if (c == ' ')
            c = '_';
    }
    return text;
}

bool IsBlank(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= ' ';
}

// The delimited-text rule the device path is split with: elements end at the delimiter
// or at a blank (codes 1 to 32), blanks around elements are dropped, an element that starts with
// a double quote runs to the closing quote ("" inside is one quote), and a delimiter at the very
// end gives a last empty element.
std::vector<std::string> SplitDelimited(std::string_view text, char delimiter) {
    std::vector<std::string> elements;
    size_t p = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (p < n && IsBlank(text[p]))
            ++p;
    };
    skipBlanks();
    while (p < n) {
        std::string element;
        if (text[p] == '"') {
            for (++p; p < n; ++p) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        element += '"';
                        ++p;
                        continue;
                    }
                    ++p;
                    break;
                }
                element += text[p];
            }
        } else {
            const size_t start = p;
            while (p<n&& static_cast<unsigned char>(text[p])> ' ' && text[p] != delimiter)
                ++p;
            element.assign(text.substr(start, p - start));
        }
        elements.push_back(std::move(element));
        skipBlanks();
        if (p < n && text[p] == delimiter) {
            if (p + 1 == n)
                elements.emplace_back();
            ++p;
            skipBlanks();
        }
    }
    return elements;
}

} // namespace

std::string GetDiskModel(platform::DriveQueries& queries, char letter) {
    std::optional<platform::DeviceIdentity> identity = queries.Identity(platform::AsciiUpper(letter));
    if (!identity)
        return {};
    return Underscored(identity->vendor) + " " + Underscored(identity->product);
}

std::string MountedDeviceValueName(char letter) {
    return std::string("\\DosDevices\\") + platform::AsciiUpper(letter) + ":";
}

std::string ModelFromMountedDevice(const std::optional<std::string>& value) {
    if (!value || value->empty())
        return {};
    // Every non-zero byte is one character: UTF-16 in the ASCII range becomes its text.
    std::string text;
    for (char byte : *value) {
        if (byte != '\0')
            text += byte;
    }
    text.resize(text.size() > 2 ? text.size() - 2 : 0);

    std::string vendor;
    std::string product;
    for (const std::string& element : SplitDelimited(text, '&')) {
        if (element.starts_with("Ven"))
            vendor = element.size() > 4 ? element.substr(4) : std::string();
        else if (element.starts_with("Prod"))
            product = element.size() > 5 ? element.substr(5) : std::string();
    }
    return vendor + " " + product;
}

} // namespace vornel::drives
