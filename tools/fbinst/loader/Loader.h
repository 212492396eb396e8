#pragma once
// The boot loader the disk tool puts on a stick: GRUB 2 for PC BIOS, its images built when the
// tool is built and carried inside it, and the translation of the stick's menus into its config.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vornel::fbinst::loader {

// The loader's code for the first 440 bytes of the master boot record.
std::span<const std::uint8_t> MbrBootCode();

// The loader's core image, written raw from sector 1 (it must fit before the first partition).
std::span<const std::uint8_t> CoreImage();

// Where, inside the boot area's file system, the loader reads its config ("/"-separated).
extern const char* const kConfigPath;

// Files the loader reads from the boot area besides its config ("/"-separated, no leading "/"):
// the Unicode font that shows the Chinese titles, and memdisk, which boots ISO and floppy
// images from memory. The package carries them under these names.
extern const char* const kFontPath;
extern const char* const kMemdiskPath;
// The menu's look on the graphical screen (a GRUB theme; its pictures beside it), and the folder
// of GRUB's own translations (zh_CN.mo), which put its help, countdown and error texts in Chinese.
// The menu works without either.
extern const char* const kThemePath;
extern const char* const kLocaleDir;

// The loader's config for the stick's start menu (fb.cfg) and boot menu (menu.lst), both given
// as lines; either may be empty.
std::string TranslateMenus(const std::vector<std::string>& fbCfgLines,
                           const std::vector<std::string>& menuLstLines);

} // namespace vornel::fbinst::loader
