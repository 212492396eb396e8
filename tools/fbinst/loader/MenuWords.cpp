#include "loader/MenuWords.h"

#include "platform/Ascii.h"

namespace vornel::fbinst::loader {
namespace {

// A line end left on a line (a CR of CR LF) counts as a blank too.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

CommandLine SplitCommand(std::string_view line) {
    line = TrimBlanks(line);
    std::size_t end = 0;
    while (end < line.size() && !IsBlank(line[end]) && line[end] != '=') {
        ++end;
    }
    std::string_view rest = line.substr(end);
    rest = TrimBlanks(rest);
    if (!rest.empty() && rest.front() == '=') {
        rest = TrimBlanks(rest.substr(1));
    }
    return {platform::AsciiLower(line.substr(0, end)), std::string(rest)};
}

std::vector<std::string> SplitWords(std::string_view text, WordStyle style) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool inQuotes = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (style == WordStyle::BackslashEscapes && c == '\\' && i + 1 < text.size()) {
            word += text[++i];
            inWord = true;
        } else if (style == WordStyle::DoubleQuotes && c == '"') {
            inQuotes = !inQuotes;
            inWord = true;
        } else if (IsBlank(c) && !inQuotes) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

std::optional<int> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace vornel::fbinst::loader
