#pragma once
// The disk tool's start menu fb.cfg: "default N", "timeout N" and "menu KEY FILE TEXT" lines.

#include <optional>
#include <string>
#include <vector>

namespace vornel::fbinst::loader {

struct FbMenuItem {
    std::string key;  // e.g. "F1"
    std::string file; // inside the boot area, as written
    std::string text; // the item's caption; the file's name when none is given
};

struct FbCfg {
    std::optional<int> defaultItem;
    std::optional<int> timeoutSeconds;
    std::vector<FbMenuItem> items;
};

FbCfg ParseFbCfg(const std::vector<std::string>& lines);

// A grub4dos loader file: its menu is menu.lst, which this loader shows itself.
bool IsGrldr(const std::string& file);

} // namespace vornel::fbinst::loader
