#pragma once
// Reading the words of one menu line, shared by the fb.cfg and menu.lst readers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::fbinst::loader {

std::string_view TrimBlanks(std::string_view text);

// The keyword of a command line (lower-cased; it ends at a blank or "=") and the trimmed rest.
struct CommandLine {
    std::string keyword;
    std::string rest;
};
CommandLine SplitCommand(std::string_view line);

// Words separated by blanks. In menu.lst a backslash makes the next character part of the word
// ("\ " is a blank inside a file name); in fb.cfg double quotes group words and are dropped.
enum class WordStyle { BackslashEscapes, DoubleQuotes };
std::vector<std::string> SplitWords(std::string_view text, WordStyle style);

// A count such as a time-out or an entry number: decimal digits only, at most 99999.
std::optional<int> ParseCount(std::string_view text);

} // namespace vornel::fbinst::loader
