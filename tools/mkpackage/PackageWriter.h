#pragma once
// Writes a package file: entries appended one by one, each deflated as it is read, and the header
// written last. The package appears under its name only once it is complete.

#include "platform/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <zlib.h>

namespace vornel::mkpackage {

class PackageWriter {
  public:
    // Starts "<outPath>.part". Throws platform::EFCreateError.
    explicit PackageWriter(std::string outPath, int level = Z_DEFAULT_COMPRESSION);
    ~PackageWriter(); // removes the partial file unless Finish succeeded
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    // `name` is UTF-8 with "\" between folder levels; it is stored in code page 936. Throws
    // std::runtime_error for a name the reader would refuse or a file that cannot be read.
    void AddFile(const std::string& name, const std::string& sourcePath, std::uint32_t attributes);
    void AddBytes(const std::string& name, std::string_view bytes, std::uint32_t attributes);
    // Reads the entry's bytes into the buffer; returns 0 at the end.
    using Reader = std::function<std::size_t(unsigned char* buffer, std::size_t size)>;
    void AddStream(const std::string& name, const Reader& read, std::uint32_t attributes);

    // Writes the header and renames the package into place.
    void Finish();

  private:
    void WriteAt(std::int64_t offset, const void* data, std::size_t size);

    std::string outPath_;
    std::string partPath_;
    int level_;
    platform::UniqueFd fd_;
    std::int64_t end_ = 23;
    std::int32_t count_ = 0;
    std::int64_t totalSize_ = 0;
    bool finished_ = false;
};

} // namespace vornel::mkpackage
