#pragma once
// Files and folders as the program uses them: the errors it shows, presence and length tests,
// whole text files read as lines and written in one piece, and the program's folders.

#include "failure/Failure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornel::platform {

// A file that cannot be created: what() is 'Cannot create file "%s". %s' with the path and the
// system's text for errno.
class EFCreateError : public failure::Failure {
  public:
    EFCreateError(const std::string& path, int error);
};

// A file that cannot be opened or read: 'Cannot open file "%s". %s'.
class EFOpenError : public failure::Failure {
  public:
    EFOpenError(const std::string& path, int error);
};

// True only for an existing regular file (a folder never counts).
bool FileExists(const std::string& path);

// Length in bytes of an existing regular file.
std::optional<std::int64_t> FileLength(const std::string& path);

// Splits text into lines at CR LF, LF or a lone CR; a final line break gives no extra line.
std::vector<std::string> SplitLines(const std::string& text);

// Reads a whole file as lines (SplitLines). Throws EFOpenError when it cannot be read.
std::vector<std::string> ReadTextLines(const std::string& path);

// Writes the bytes to a temporary file beside `path` and renames it over `path`, so a failed
// write never leaves a truncated file. Throws EFCreateError naming `path`.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

// Joins lines with CR LF after every line (an empty list gives no bytes).
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// The user's folder that the XDG variable `variable` names when it holds an absolute path,
// otherwise the home folder + "/" + `underHome` (".config", ".cache"); no trailing "/".
std::string UserFolder(const char* variable, const char* underHome);

// The running executable's folder, with a trailing "/".
std::string ExecutableFolder();

// The program's private temporary folder, with a trailing "/": $XDG_RUNTIME_DIR when it is the
// user's own and mode 0700, else /tmp/vornel-<uid>/ created 0700 and checked (owner, mode, not a
// link). Throws failure::Failure (TempFolder) when no safe folder can be had.
std::string TempPath();

} // namespace vornel::platform
