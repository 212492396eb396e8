#pragma once
// Sticks made by the disk tool itself, through the command lines of the make operation.

#include "fbinst/loader/BootFixture.h"
#include "loader/GrubText.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace vornel::fbinst::loader::test {

class ToolMadeStickBoot : public StickBoot {
  protected:
    void SetUp() override {
        StickBoot::SetUp();
        Sh("truncate -s 96M " + image_);
    }

    // fbinst.exe with the arguments that the Windows command-line split makes of the lines.
    void Tool(const std::string& arguments) {
        Sh("VORNEL_DRIVES=G=" + image_ + " " + std::getenv("VORNEL_BUILD_DIR") +
           "/fbinst.exe G: " + arguments + " >/dev/null");
    }

    // The make operation's order: format, the three start-menu lines, then every file.
    void Make(const std::string& modeFlag, const std::vector<std::pair<std::string, std::string>>& files) {
        Tool("format -f -a " + modeFlag + " -p 8m -e 20m");
        Tool("add-menu -s fb.cfg 'default 0'");
        Tool("add-menu -s fb.cfg 'timeout 0'");
        Tool("add-menu -s fb.cfg 'menu F1 grldr grldr'");
        for (const auto& [name, source] : files) {
            Tool("add " + GrubQuote(name) + " " + GrubQuote(source));
        }
    }

    // As the make operation does it with the built package: every file its list names, the
    // given menu.lst in place of the package's, then the custom images.
    void MakeFromPackage(const std::string& modeFlag, const std::string& menuLst,
                         const std::vector<std::pair<std::string, std::string>>& customImages) {
        const std::string package = dir_ + "/package";
        Sh("mkdir " + package + " && " + std::getenv("VORNEL_BUILD_DIR") + "/mkpackage extract " +
           std::getenv("VORNEL_BUILD_DIR") + "/data/Data.Vn " + package + " >/dev/null");
        std::vector<std::pair<std::string, std::string>> files;
        std::ifstream list(package + "/filelist");
        for (std::string entry; std::getline(list, entry);) {
            std::erase(entry, '\r');
            std::replace(entry.begin(), entry.end(), '\\', '/');
            files.emplace_back(entry, entry == "menu.lst" ? menuLst : package + "/" + entry);
        }
        files.insert(files.end(), customImages.begin(), customImages.end());
        Make(modeFlag, files);
    }

    // menu.lst as the build writes it: CR LF after every line.
    std::string MenuLst(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
        }
        return WriteFile("menu.lst", text);
    }
};

} // namespace vornel::fbinst::loader::test
