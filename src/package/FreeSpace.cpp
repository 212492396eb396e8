#include "package/u_Package.h"

#include <filesystem>
#include <optional>
#include <sys/statvfs.h>

namespace vornel::package {

namespace {

// The file system that holds `path`. The destination may not exist yet: its nearest existing
// parent is on the same file system.
std::optional<struct statvfs> FileSystemOf(const std::string& path) {
    std::filesystem::path probe = path.empty() ? std::filesystem::path(".") : std::filesystem::path(path);
    for (;;) {
        struct statvfs fs {};
        if (::statvfs(probe.c_str(), &fs) == 0)
            return fs;
        std::filesystem::path parent = probe.parent_path();
        if (parent.empty())
            parent = probe.is_absolute() ? probe.root_path() : std::filesystem::path(".");
        if (parent == probe)
            return std::nullopt;
        probe = parent;
    }
}

} // namespace

std::int64_t AvailableBytes(const std::string& path) {
    const auto fs = FileSystemOf(path);
    return fs ? static_cast<std::int64_t>(fs->f_bavail) * static_cast<std::int64_t>(fs->f_frsize) : -1;
}

std::int64_t AllocationUnit(const std::string& path) {
    const auto fs = FileSystemOf(path);
    return fs && fs->f_frsize > 0 ? static_cast<std::int64_t>(fs->f_frsize) : 1;
}

} // namespace vornel::package
