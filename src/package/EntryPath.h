#pragma once
// Where an entry's file goes: the checks on its stored name, and the creation of the output file
// below the destination without following any link planted there.

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

// An output file descriptor, closed on every way out.
class OutputFile {
  public:
    explicit OutputFile(int fd) : fd_(fd) {}
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    int Descriptor() const { return fd_; }

  private:
    int fd_;
};

// Creates the file `levels` names below `root` (root and missing folders are made), replacing an
// existing file. Every folder level is opened without following links, the file is created new,
// never opened through a link. Throws platform::EFCreateError naming `displayPath`.
int CreateOutputBelow(const std::string& root, const std::vector<std::string>& levels,
                      const std::string& displayPath);

// The same for a full path: its folders are made, the file itself is created as above.
int CreateOutputAt(const std::string& path);

} // namespace vornel::package
