#pragma once
// Conversion between code page 936 (the package's name encoding) and UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace vornel::package {

// nullopt when the bytes are not valid code page 936 text.
std::optional<std::string> Cp936ToUtf8(std::string_view cp936);

// True when the bytes are valid UTF-8 text.
bool IsUtf8(std::string_view text);

// nullopt when the text is not valid UTF-8 or has no code page 936 form.
std::optional<std::string> Utf8ToCp936(std::string_view utf8);

} // namespace vornel::package
