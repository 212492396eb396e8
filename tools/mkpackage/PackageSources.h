#pragma once
// Which files a package is made of, and in which order: the files a folder holds, those its
// "filelist" names first in the list's order, then the rest by name.

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::mkpackage {

struct SourceFile {
    std::string Name; // entry name: UTF-8, "\" between folder levels
    std::string Path; // the file on disk
    std::uint32_t Attributes = 0;
};

// Stored attributes of a file on disk: archive, plus read-only when it has no write bit.
std::uint32_t AttributesOf(const std::string& path);

// Every regular file below `folder` (links to regular files included), plus `extra`, ordered as
// the folder's "filelist" says. Throws std::runtime_error when a filelist line names no file of
// the package or two files would get the same name.
std::vector<SourceFile> CollectSources(const std::string& folder, const std::vector<SourceFile>& extra);

} // namespace vornel::mkpackage
