#include "platform/CommandLine.h"

namespace vornel::platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads the program name from `pos` and leaves `pos` after it.
std::string ReadProgramName(const std::string& line, size_t& pos) {
    std::string name;
    bool quoted = false;
    for (; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"')
            quoted = !quoted;
        else if (IsBlank(c) && !quoted)
            break;
        else
            name += c;
    }
    return name;
}

// Reads one argument from `pos` (not at a blank) and leaves `pos` after it.
std::string ReadArgument(const std::string& line, size_t& pos) {
    std::string word;
    bool quoted = false;
    while (pos < line.size()) {
        char c = line[pos];
        if (IsBlank(c) && !quoted)
            break;
        if (c == '\\') {
            size_t backslashes = 0;
            while (pos < line.size() && line[pos] == '\\') {
                ++backslashes;
                ++pos;
            }
            if (pos < line.size() && line[pos] == '"') {
                word.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    word += '"';
                    ++pos;
                }
                // An even count leaves the quote to the next round, where it toggles quoting.
            } else {
                word.append(backslashes, '\\');
            }
            continue;
        }
        if (c == '"') {
            if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
                word += '"';
                pos += 2;
                continue;
            }
            quoted = !quoted;
            ++pos;
            continue;
        }
        word += c;
        ++pos;
    }
    return word;
}

void SkipBlanks(const std::string& line, size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    size_t pos = 0;
    SkipBlanks(commandLine, pos);
    if (pos >= commandLine.size())
        return words;
    words.push_back(ReadProgramName(commandLine, pos));
    for (;;) {
        SkipBlanks(commandLine, pos);
        if (pos >= commandLine.size())
            break;
        words.push_back(ReadArgument(commandLine, pos));
    }
    return words;
}

} // namespace vornel::platform
