#include "loader/GrubText.h"

#include <cerrno>
#include <iconv.h>
#include <optional>

namespace vornel::fbinst::loader {
namespace {

// Length of the UTF-8 sequence at `pos`, or 0 when it is not a valid one (overlong forms,
// surrogates and values above U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char secondMin = 0x80, secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            secondMin = 0xA0;
        } else if (lead == 0xED) {
            secondMax = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            secondMin = 0x90;
        } else if (lead == 0xF4) {
            secondMax = 0x8F;
        }
    } else {
        return 0;
    }
    if (pos + length > text.size() || byte(pos + 1) < secondMin || byte(pos + 1) > secondMax) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, pos);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

std::optional<std::string> Gb18030ToUtf8(std::string_view text) {
    iconv_t converter = iconv_open("UTF-8", "GB18030");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string input(text);
    std::string output(input.size() * 4 + 4, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    const bool ok = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!ok) {
        return std::nullopt;
    }
    output.resize(output.size() - outLeft);
    return output;
}

std::string ReplaceInvalidUtf8(std::string_view text) {
    std::string result;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, pos);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            ++pos;
        } else {
            result.append(text.substr(pos, length));
            pos += length;
        }
    }
    return result;
}

} // namespace

std::string GrubQuote(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string FillIn(std::string_view text,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> fills) {
    std::string filled(text);
    for (auto [marker, lines] : fills) {
        if (lines.ends_with('\n')) {
            lines.remove_suffix(1);
        }
        for (auto at = filled.find(marker); at != std::string::npos;
             at = filled.find(marker, at + lines.size())) {
            filled.replace(at, marker.size(), lines);
        }
    }
    return filled;
}

std::string MenuText(std::string_view raw) {
    std::string text;
    if (IsValidUtf8(raw)) {
        text = raw;
    } else if (auto converted = Gb18030ToUtf8(raw)) {
        text = *converted;
    } else {
        text = ReplaceInvalidUtf8(raw);
    }
    if (text.size() > kMenuTextLimit) {
        std::size_t cut = kMenuTextLimit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut; // inside a character: cut before it
        }
        text.resize(cut);
    }
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = ' ';
        }
    }
    return text;
}

} // namespace vornel::fbinst::loader
