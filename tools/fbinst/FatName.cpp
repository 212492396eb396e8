#include "FatName.h"

#include "Failure.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace vornel::fbinst {

namespace {

// A long FAT name holds 255 UTF-16 units; mtools keeps a name exactly only up to 255 bytes of
// UTF-8 (85 Chinese characters), and loses characters beyond U+FFFF altogether.
constexpr std::size_t kMaxNameBytes = 255;

// The code points of `text`, or nullopt when it is not well-formed UTF-8 (overlong forms and
// surrogates included).
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string points;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        char32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            point = point << 6 | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return std::nullopt;
        points += point;
        i += length;
    }
    return points;
}

void CheckPart(const std::string& name, const std::string& part) {
    const auto refuse = [&](const std::string& why) {
        return Failure("the boot area cannot hold the name \"" + name + "\": " + why);
    };
    if (part == "." || part == "..")
        throw refuse("\".\" and \"..\" are no names");
    const std::optional<std::u32string> points = DecodeUtf8(part);
    if (!points)
        throw refuse("it is not UTF-8 text");
    for (char32_t point : *points) {
        if (point < 0x20)
            throw refuse("FAT names hold no control characters");
        if (std::u32string_view(U"\\:*?\"<>|").find(point) != std::u32string_view::npos)
            throw refuse("FAT names hold none of \\ : * ? \" < > |");
        if (point > 0xFFFF)
            throw refuse("characters beyond U+FFFF (such as emoji) cannot be stored exactly");
    }
    if (part.back() == '.' || part.back() == ' ')
        throw refuse("a FAT name cannot end in a dot or a space");
    if (part.size() > kMaxNameBytes)
        throw Failure("the name \"" + part +
                      "\" is too long: the boot area holds names of at most 255 bytes "
                      "(255 Latin letters, 85 Chinese characters)");
}

} // namespace

std::string CleanFatName(const std::string& name) {
    std::string clean;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        std::size_t end = name.find('/', begin);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(begin, end - begin);
        if (!part.empty()) {
            CheckPart(name, part);
            clean += (clean.empty() ? "" : "/") + part;
        }
        begin = end + 1;
    }
    if (clean.empty())
        throw Failure("empty name on the drive");
    return clean;
}

} // namespace vornel::fbinst
