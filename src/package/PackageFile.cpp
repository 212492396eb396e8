#include "package/PackageFile.h"

#include "platform/Files.h"
#include "platform/ReadWrite.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace vornel::package {

PackageFile::PackageFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (!fd_.Valid())
        throw platform::EFOpenError(path, errno);
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0)
        throw platform::EFOpenError(path, errno);
    length_ = static_cast<std::int64_t>(st.st_size);
}

bool PackageFile::ReadAt(std::int64_t offset, void* data, std::size_t size) const {
    return offset >= 0 && platform::ReadFullyAt(fd_.Get(), static_cast<std::uint64_t>(offset),
                                                std::span(static_cast<std::uint8_t*>(data), size)) ==
                              static_cast<std::int64_t>(size);
}

} // namespace vornel::package
