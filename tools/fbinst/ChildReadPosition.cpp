#include "ChildReadPosition.h"

#include "platform/ReadWrite.h"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace vornel::fbinst {

namespace {

// The number after "pos:" in an fdinfo file, or nullopt when the file is gone (the reader ended).
std::optional<std::uint64_t> PositionIn(const std::string& fdinfo) {
    std::string text;
    platform::ReadWholeFile(fdinfo, text);
    const std::string key = "pos:";
    const std::size_t at = text.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    std::size_t begin = at + key.size();
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + begin, text.data() + text.size(), value);
    return error == std::errc() ? std::optional(value) : std::nullopt;
}

} // namespace

ChildReadPosition::ChildReadPosition(const std::string& path) {
    struct stat source {};
    exists_ = ::stat(path.c_str(), &source) == 0;
    device_ = source.st_dev;
    inode_ = source.st_ino;
}

void ChildReadPosition::Follow(pid_t child) {
    child_.store(child);
}

std::string ChildReadPosition::FindFdinfo(pid_t child) const {
    const std::string folder = "/proc/" + std::to_string(child);
    const std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir((folder + "/fd").c_str()), ::closedir);
    for (const dirent* entry; fds && (entry = ::readdir(fds.get()));) {
        struct stat open {};
        const std::string fd = entry->d_name;
        if (fd != "." && fd != ".." && ::stat((folder + "/fd/" + fd).c_str(), &open) == 0 &&
            open.st_dev == device_ && open.st_ino == inode_)
            return folder + "/fdinfo/" + fd;
    }
    return {};
}

std::uint64_t ChildReadPosition::Position() {
    const pid_t child = child_.load();
    if (!exists_ || child <= 0)
        return position_;
    if (fdinfo_.empty())
        fdinfo_ = FindFdinfo(child);
    if (fdinfo_.empty())
        return position_;
    if (const std::optional<std::uint64_t> position = PositionIn(fdinfo_))
        position_ = std::max(position_, *position);
    else
        fdinfo_.clear(); // the reader has closed the file or ended; look again
    return position_;
}

} // namespace vornel::fbinst
