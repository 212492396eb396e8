#pragma once
// The list file isolist: the user's custom boot items, one "title|image path" line each.
// The dialog and the build read it by the same rule. Lines are UTF-8, or code page 936 (GBK) in
// lists kept by the Windows program; either is read, and a line that is not UTF-8 is written
// back with its own bytes while its item is unchanged.

#include <string>
#include <vector>

namespace vornel::bootitems {

// One custom boot item.
struct TISOFileInfo {
    std::string Title;     // the boot menu title
    std::string ImagePath; // the image file's full path
    // The list file's line the item was read from, as bytes; empty for an item made since.
    std::string SourceLine = {};
};

// The disk tool's command line puts each path in double quotes: a path holding a '"', or ending in
// '\' (which would escape the closing quote), would reach the tool split differently from the file
// the make operation measured.
bool PathFitsCommandLine(const std::string& path);

// The item's image path as the file system knows it: ImagePath, or, when no file has that name
// and the item was read from a line that is not UTF-8, the path's bytes as that line holds them
// (a list kept by the Windows program names files whose names on disk are GBK bytes).
std::string ImageOnDisk(const TISOFileInfo& item);

// The user's list file for the data folder (which ends in "/"): IsoListPathFor with the user's
// configuration folder.
std::string IsoListPath(const std::string& dataFolder);

// The list file lives in the data folder while the user may write there (a build tree, a copy of
// the program the user owns). An installed data folder is not the user's: the list is then
// configHome + "/vornel/isolist", in the same format, and that folder is made (owner only) when
// it is missing, so the list can be saved there.
std::string IsoListPathFor(const std::string& dataFolder, const std::string& configHome);

// $XDG_CONFIG_HOME when it is an absolute path, otherwise the home folder + "/.config".
std::string UserConfigHome();

// Splits one line at its first "|": the title before it, the path after it (further "|"
// included). A line without "|" is all path, with an empty title.
TISOFileInfo SplitIsoLine(const std::string& line);

// The line that SplitIsoLine reads back: title, "|", path.
std::string JoinIsoLine(const TISOFileInfo& item);

// Reads the list file: one item per line (CR LF, LF or CR; a final line break adds no line),
// empty lines included, in file order; a line that is not UTF-8 but code page 936 text is
// converted to UTF-8. Throws platform::EFOpenError when it cannot be read.
std::vector<TISOFileInfo> ReadIsoList(const std::string& path);

// Writes the whole list with CR LF after every line (an empty list gives an empty file); an item
// still as read from a line that was not UTF-8 gets that line's bytes back. The
// old file is replaced only once the new one is complete; throws platform::EFCreateError and
// leaves the old file as it was when it cannot be written.
void WriteIsoList(const std::string& path, const std::vector<TISOFileInfo>& items);

} // namespace vornel::bootitems
