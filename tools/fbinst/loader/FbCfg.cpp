#include "loader/FbCfg.h"

#include "loader/MenuWords.h"
#include "platform/Ascii.h"

namespace vornel::fbinst::loader {

FbCfg ParseFbCfg(const std::vector<std::string>& lines) {
    FbCfg cfg;
    for (const std::string& line : lines) {
        const CommandLine command = SplitCommand(line);
        if (command.keyword == "default") {
            if (auto item = ParseCount(command.rest)) {
                cfg.defaultItem = item;
            }
        } else if (command.keyword == "timeout") {
            if (auto seconds = ParseCount(command.rest)) {
                cfg.timeoutSeconds = seconds;
            }
        } else if (command.keyword == "menu") {
            const auto words = SplitWords(command.rest, WordStyle::DoubleQuotes);
            if (words.size() < 2) {
                continue; // without a file there is nothing to offer
            }
            FbMenuItem item{words[0], words[1], {}};
            for (std::size_t i = 2; i < words.size(); ++i) {
                item.text += (i > 2 ? " " : "") + words[i];
            }
            if (item.text.empty()) {
                item.text = item.file;
            }
            cfg.items.push_back(std::move(item));
        }
    }
    return cfg;
}

bool IsGrldr(const std::string& file) {
    const std::size_t slash = file.find_last_of("/\\");
    const std::string name = platform::AsciiLower(slash == std::string::npos ? file : file.substr(slash + 1));
    return name == "grldr";
}

} // namespace vornel::fbinst::loader
