#pragma once
// The stick's boot menu menu.lst, read in the part of the grub4dos menu language that our menus
// use. Every title stays an entry, so entry numbers (default) keep their meaning; an entry
// whose commands fall outside that part says so instead of booting.

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vornel::fbinst::loader {

// Paths are inside the boot area, beginning with "/".
struct IsoInMemory {
    std::string image;
};
struct FloppyInMemory {
    std::string image;
};
// A disk as the BIOS numbers it: 0 is the stick when it was booted, 1 usually the hard disk.
struct LocalDisk {
    int disk = 0;
};
// A kernel of the boot area with its command line, and the initrd it is given (grub4dos's
// "kernel (ud)/FILE ARGUMENTS..." and "initrd (ud)/FILE").
struct Kernel {
    std::string file;
    std::vector<std::string> arguments;
    std::optional<std::string> initrd;
};
struct Reboot {};
struct Halt {};
struct NoCommands {};
// The entry's command lines as written, for the explanation shown when it is chosen.
struct UnsupportedCommands {
    std::vector<std::string> lines;
};

using BootAction = std::variant<IsoInMemory, FloppyInMemory, LocalDisk, Kernel, Reboot, Halt, NoCommands,
                                UnsupportedCommands>;

struct MenuLstEntry {
    std::string title; // as written; not yet made screen-safe
    BootAction action;
};

struct MenuLst {
    std::optional<int> defaultEntry;
    std::optional<int> timeoutSeconds;
    std::vector<MenuLstEntry> entries;
};

MenuLst ParseMenuLst(const std::vector<std::string>& lines);

} // namespace vornel::fbinst::loader
