#pragma once
// Where an entry's file goes: the checks on its stored name, and the creation of the output file
// below the destination without following any link planted there.

#include "platform/UniqueFd.h"

#include <optional>
#include <string>
#include <vector>

namespace vornel::package {

// "\" becomes "/": package names and destination folders keep Windows separators until a path on
// disk is built.
std::string NativePath(std::string path);

// The folder levels and the file name of a stored entry name, or nullopt when the name must not be
// extracted: empty, absolute, holding a drive or ":", a ".." level, a control character, or
// naming a folder. Both "\" and "/" separate levels; empty and "." levels are dropped.
std::optional<std::vector<std::string>> EntryLevels(const std::string& name);

// Creates the file `levels` names below `root` (root and missing folders are made), replacing an
// existing file. Every folder level is opened without following links, the file is created new,
// never opened through a link. Throws platform::EFCreateError naming `displayPath`.
platform::UniqueFd CreateOutputBelow(const std::string& root, const std::vector<std::string>& levels,
                                     const std::string& displayPath);

// The same for a full path: its folders are made, the file itself is created as above.
platform::UniqueFd CreateOutputAt(const std::string& path);

} // namespace vornel::package
