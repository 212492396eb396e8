#include "fbinst/loader/ToolStick.h"

#include "loader/GrubText.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vornel::fbinst::loader::test {

void ToolMadeStickBoot::Tool(const std::string& arguments) {
    Sh("VORNEL_DRIVES=G=" + image_ + " " + std::getenv("VORNEL_BUILD_DIR") + "/fbinst.exe G: " + arguments +
       " >/dev/null");
}

void ToolMadeStickBoot::Make(bool zipMode, const std::vector<std::pair<std::string, std::string>>& files) {
    std::uintmax_t contentBytes = 0;
    for (const auto& file : files) {
        contentBytes += std::filesystem::file_size(file.second);
    }
    const std::uintmax_t bootAreaMiB = contentBytes / 1048576 + 10;
    Sh("truncate -s " + std::to_string(bootAreaMiB + 72) + "M " + image_);
    Tool(std::string("format -f -a ") + (zipMode ? "-z " : "") + "-p 8m -e " + std::to_string(bootAreaMiB) +
         "m");
    Tool("add-menu -s fb.cfg 'default 0'");
    Tool("add-menu -s fb.cfg 'timeout 0'");
    Tool("add-menu -s fb.cfg 'menu F1 grldr grldr'");
    for (const auto& [name, source] : files) {
        Tool("add " + GrubQuote(name) + " " + GrubQuote(source));
    }
}

void ToolMadeStickBoot::MakeFromPackage(
    bool zipMode, const std::string& menuLst,
    const std::vector<std::pair<std::string, std::string>>& customImages) {
    const std::string build = std::getenv("VORNEL_BUILD_DIR");
    const std::string package = dir_ + "/package";
    Sh("mkdir " + package + " && " + build + "/mkpackage extract " + package_ + " " + package +
       " >/dev/null");
    std::string menu = menuLst;
    if (menu.empty()) {
        std::vector<std::string> lines;
        std::ifstream defMenu(package + "/defMenu.txt");
        for (std::string line; std::getline(defMenu, line);) {
            std::erase(line, '\r');
            lines.push_back(line);
        }
        menu = MenuLst(lines);
    }
    std::vector<std::pair<std::string, std::string>> files;
    std::ifstream list(package + "/filelist");
    for (std::string entry; std::getline(list, entry);) {
        std::erase(entry, '\r');
        std::replace(entry.begin(), entry.end(), '\\', '/');
        files.emplace_back(entry, entry == "menu.lst" ? menu : package + "/" + entry);
    }
    files.insert(files.end(), customImages.begin(), customImages.end());
    Make(zipMode, files);
}

std::string ToolMadeStickBoot::MenuLst(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return WriteFile("menu.lst", text);
}

void ToolMadeStickBoot::ChooseExpectingMessage(int below, const std::string& message,
                                               const std::string& menuText) {
    const int said = CountOnSerial(message);
    ChooseEntry(below);
    ExpectMessageThenMenu(message, said, menuText);
}

void ToolMadeStickBoot::ExpectMessageThenMenu(const std::string& message, int seenBefore,
                                              const std::string& menuText) {
    ASSERT_GT(WaitForSerial(message, seenBefore), 0) << message << "\n" << SerialSoFar();
    const int drawn = CountOnSerial(menuText);
    Keys({"esc"});
    ASSERT_GT(WaitForSerial(menuText, drawn, 60), 0) << "the menu did not come back\n" << SerialSoFar();
}

} // namespace vornel::fbinst::loader::test
