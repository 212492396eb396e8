#include "builder/DeleteFolderTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornel::builder {

namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::vector<std::string> ListNames(int folderFd) {
    std::vector<std::string> names;
    int listFd = ::dup(folderFd);
    if (listFd < 0)
        return names;
    DIR* listing = ::fdopendir(listFd);
    if (!listing) {
        ::close(listFd);
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(listing);
    return names;
}

// Empties the folder open as `folderFd`; the folder itself stays. Every step works relative to an
// open descriptor and opens folders with O_NOFOLLOW, so a link swapped in meanwhile is never
// followed.
void DeleteContents(int folderFd) {
    // Listing first and deleting afterwards keeps the listing clear of our own changes.
    for (const auto& name : ListNames(folderFd)) {
        struct stat st {};
        if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(st.st_mode)) {
            ::unlinkat(folderFd, name.c_str(), 0);
            continue;
        }
        int childFd = ::openat(folderFd, name.c_str(), kOpenFolder);
        if (childFd < 0)
            continue;
        DeleteContents(childFd);
        ::close(childFd);
        ::unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);
    }
}

} // namespace

void DeleteFolderTree(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    // Never the root: an empty or "/" path can only be a caller's mistake.
    if (folder.empty() || folder == "/")
        return;
    int folderFd = ::open(folder.c_str(), kOpenFolder);
    if (folderFd < 0)
        return;
    DeleteContents(folderFd);
    ::close(folderFd);
    ::rmdir(folder.c_str());
}

} // namespace vornel::builder
