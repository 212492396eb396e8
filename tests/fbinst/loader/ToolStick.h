#pragma once
// Sticks made by the disk tool itself (fbinst.exe, built beside the tests) through the make
// operation's command lines, for booting in QEMU.

#include "fbinst/loader/BootFixture.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace vornel::fbinst::loader::test {

class ToolMadeStickBoot : public StickBoot {
  protected:
    // fbinst.exe on the stick image with the arguments the Windows command-line split makes.
    void Tool(const std::string& arguments);
    // The make operation's order: format (boot area as large as the files plus 10 MiB), the
    // three start-menu lines, then every file (name on the stick, source).
    void Make(bool zipMode, const std::vector<std::pair<std::string, std::string>>& files);
    // As the make operation does it with package_: every file its list names, the given
    // menu.lst in place of the package's (or, when none is given, the package's own defMenu.txt
    // as the make operation writes it), then the custom images.
    void MakeFromPackage(bool zipMode, const std::string& menuLst,
                         const std::vector<std::pair<std::string, std::string>>& customImages);
    // menu.lst as the build writes it: CR LF after every line.
    std::string MenuLst(const std::vector<std::string>& lines);

    // The entry says `message` (more than `seenBefore` times on the serial line now); one key
    // (Esc) brings the menu back, known by `menuText` (a title drawn with it) shown once more.
    void ExpectMessageThenMenu(const std::string& message, int seenBefore, const std::string& menuText);
    // Chooses that entry, which says `message` once more than before, and the menu comes back.
    void ChooseExpectingMessage(int below, const std::string& message, const std::string& menuText);
    // The tests' package, which leaves out the rescue system; tests of it take the program's.
    std::string package_ = std::string(std::getenv("VORNEL_BUILD_DIR")) + "/test-data/Data.Vn";
};

} // namespace vornel::fbinst::loader::test
