#include "loader/MenuLst.h"

#include "loader/MenuWords.h"
#include "platform/Ascii.h"

#include <string_view>

namespace vornel::fbinst::loader {
namespace {

using Words = std::vector<std::string>;

bool Is(const Words& words, std::initializer_list<std::string_view> expected) {
    if (words.size() != expected.size()) {
        return false;
    }
    std::size_t i = 0;
    for (std::string_view word : expected) {
        if (platform::AsciiLower(words[i++]) != word) {
            return false;
        }
    }
    return true;
}

// "(ud)/boot/x.iso" names a file of the boot area; gives "/boot/x.iso".
std::optional<std::string> BootAreaFile(const std::string& word) {
    constexpr std::string_view kDevice = "(ud)";
    if (word.size() <= kDevice.size() + 1 ||
        platform::AsciiLower(word.substr(0, kDevice.size())) != kDevice || word[kDevice.size()] != '/') {
        return std::nullopt;
    }
    return word.substr(kDevice.size());
}

// "map --mem (ud)/FILE DRIVE" with DRIVE as given.
std::optional<std::string> MappedImage(const Words& words, std::string_view drive) {
    if (words.size() != 4 || !Is({words[0], words[1]}, {"map", "--mem"}) ||
        platform::AsciiLower(words[3]) != drive) {
        return std::nullopt;
    }
    return BootAreaFile(words[2]);
}

// "(hdN)" gives N.
std::optional<int> HardDisk(const std::string& word) {
    const std::string lower = platform::AsciiLower(word);
    if (lower.size() < 5 || lower.size() > 7 || !lower.starts_with("(hd") || !lower.ends_with(")")) {
        return std::nullopt;
    }
    return ParseCount(std::string_view(lower).substr(3, lower.size() - 4));
}

// "kernel (ud)/FILE ARGUMENTS...", then "initrd (ud)/FILE" or nothing.
std::optional<BootAction> MatchKernel(const std::vector<Words>& commands) {
    if (commands.empty() || commands.size() > 2 || commands[0].size() < 2 ||
        !Is({commands[0][0]}, {"kernel"})) {
        return std::nullopt;
    }
    Kernel kernel;
    if (auto file = BootAreaFile(commands[0][1])) {
        kernel.file = *file;
    } else {
        return std::nullopt;
    }
    kernel.arguments.assign(commands[0].begin() + 2, commands[0].end());
    if (commands.size() == 2) {
        if (commands[1].size() != 2 || !Is({commands[1][0]}, {"initrd"})) {
            return std::nullopt;
        }
        kernel.initrd = BootAreaFile(commands[1][1]);
        if (!kernel.initrd) {
            return std::nullopt;
        }
    }
    return kernel;
}

std::optional<BootAction> MatchCommands(std::vector<Words> commands) {
    if (!commands.empty() && Is(commands.back(), {"boot"})) {
        commands.pop_back(); // grub4dos boots at the end of an entry anyway
    }
    const std::size_t count = commands.size();
    if (count == 1 && Is(commands[0], {"reboot"})) {
        return Reboot{};
    }
    if (count == 1 && Is(commands[0], {"halt"})) {
        return Halt{};
    }
    if (count == 2 && commands[0].size() == 2 && Is({commands[0][0]}, {"rootnoverify"}) &&
        Is(commands[1], {"chainloader", "+1"})) {
        if (auto disk = HardDisk(commands[0][1])) {
            return LocalDisk{*disk};
        }
    }
    if (count == 3 && Is(commands[1], {"map", "--hook"}) && Is(commands[2], {"chainloader", "(0xff)"})) {
        if (auto image = MappedImage(commands[0], "(0xff)")) {
            return IsoInMemory{*image};
        }
    }
    if (count == 4 && Is(commands[1], {"map", "--hook"}) && Is(commands[2], {"rootnoverify", "(fd0)"}) &&
        Is(commands[3], {"chainloader", "+1"})) {
        if (auto image = MappedImage(commands[0], "(fd0)")) {
            return FloppyInMemory{*image};
        }
    }
    return MatchKernel(commands);
}

BootAction ActionOf(const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return NoCommands{};
    }
    std::vector<Words> commands;
    for (const std::string& line : lines) {
        commands.push_back(SplitWords(line, WordStyle::BackslashEscapes));
    }
    if (auto action = MatchCommands(std::move(commands))) {
        return *action;
    }
    return UnsupportedCommands{lines};
}

} // namespace

MenuLst ParseMenuLst(const std::vector<std::string>& lines) {
    MenuLst menu;
    std::optional<std::string> title;
    std::vector<std::string> commands;
    const auto closeEntry = [&] {
        if (title) {
            menu.entries.push_back({*title, ActionOf(commands)});
        }
        commands.clear();
    };
    for (const std::string& raw : lines) {
        const std::string_view line = TrimBlanks(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const CommandLine command = SplitCommand(line);
        if (command.keyword == "title") {
            closeEntry();
            title = command.rest;
        } else if (title) {
            commands.emplace_back(line);
        } else if (command.keyword == "timeout") {
            if (auto seconds = ParseCount(command.rest)) {
                menu.timeoutSeconds = seconds;
            }
        } else if (command.keyword == "default") {
            if (auto entry = ParseCount(command.rest)) {
                menu.defaultEntry = entry;
            }
        }
        // Other settings before the first title (colours, pictures) only change the looks.
    }
    closeEntry();
    return menu;
}

} // namespace vornel::fbinst::loader
