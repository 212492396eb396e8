#include "package/Cp936.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace vornel::package {

namespace {

std::optional<std::string> Convert(std::string_view text, const char* to, const char* from) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    std::string out;
    char buffer[1024];
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false; // EILSEQ or EINVAL: an invalid or cut-off character
            break;
        }
    }
    ::iconv_close(cd);
    if (!ok)
        return std::nullopt;
    return out;
}

} // namespace

std::optional<std::string> Cp936ToUtf8(std::string_view cp936) {
    return Convert(cp936, "UTF-8", "CP936");
}

bool IsUtf8(std::string_view text) {
    return Convert(text, "UTF-8", "UTF-8").has_value();
}

std::optional<std::string> Utf8ToCp936(std::string_view utf8) {
    return Convert(utf8, "CP936", "UTF-8");
}

} // namespace vornel::package
