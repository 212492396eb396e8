#include "package/EntryPath.h"

#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace vornel::package {

namespace {

void MakeFolders(const std::string& path) {
    std::error_code ignored; // a failure shows when the file is created
    std::filesystem::create_directories(path, ignored);
}

// Removes whatever non-folder sits at `name` (a read-only file, a planted link) and creates a new
// file there, so nothing existing is ever written into.
platform::UniqueFd ReplaceFileAt(int folder, const std::string& name) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return platform::UniqueFd();
        }
        ::unlinkat(folder, name.c_str(), 0);
    }
    return platform::UniqueFd(
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

} // namespace

std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::optional<std::vector<std::string>> EntryLevels(const std::string& name) {
    if (name.empty() || name[0] == '\\' || name[0] == '/')
        return std::nullopt;
    std::vector<std::string> levels;
    std::string level;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '\\' || name[i] == '/') {
            if (level == "..")
                return std::nullopt;
            if (!level.empty() && level != ".")
                levels.push_back(level);
            else if (i == name.size())
                return std::nullopt; // the name ends at a folder
            level.clear();
            continue;
        }
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == ':')
            return std::nullopt;
        level += name[i];
    }
    return levels;
}

platform::UniqueFd CreateOutputBelow(const std::string& root, const std::vector<std::string>& levels,
                                     const std::string& displayPath) {
    MakeFolders(root);
    platform::UniqueFd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid())
        throw platform::EFCreateError(displayPath, errno);
    for (size_t i = 0; i + 1 < levels.size(); ++i) {
        ::mkdirat(folder.Get(), levels[i].c_str(), 0777);
        platform::UniqueFd next(
            ::openat(folder.Get(), levels[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.Valid())
            throw platform::EFCreateError(displayPath, errno);
        folder = std::move(next);
    }
    platform::UniqueFd file = ReplaceFileAt(folder.Get(), levels.back());
    if (!file.Valid())
        throw platform::EFCreateError(displayPath, errno);
    return file;
}

platform::UniqueFd CreateOutputAt(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string folderPath = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    MakeFolders(folderPath);
    const platform::UniqueFd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid())
        throw platform::EFCreateError(path, errno);
    if (name.empty())
        throw platform::EFCreateError(path, EISDIR);
    platform::UniqueFd file = ReplaceFileAt(folder.Get(), name);
    if (!file.Valid())
        throw platform::EFCreateError(path, errno);
    return file;
}

} // namespace vornel::package
