#include "package/u_Package.h"

#include <filesystem>
#include <sys/statvfs.h>

namespace vornel::package {

std::int64_t AvailableBytes(const std::string& path) {
    // The destination may not exist yet: its nearest existing parent is on the same file system.
    std::filesystem::path probe = path.empty() ? std::filesystem::path(".") : std::filesystem::path(path);
    for (;;) {
        struct statvfs fs {};
        if (::statvfs(probe.c_str(), &fs) == 0)
            return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
        std::filesystem::path parent = probe.parent_path();
        if (parent.empty())
            parent = probe.is_absolute() ? probe.root_path() : std::filesystem::path(".");
        if (parent == probe)
            return -1;
        probe = parent;
    }
}

} // namespace vornel::package
