#pragma once
// The package file opened for reading.

#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>

namespace vornel::package {

// An open package file, closed on every way out. Throws platform::EFOpenError when it cannot be
// opened.
class PackageFile {
  public:
    explicit PackageFile(const std::string& path);

    int Descriptor() const { return fd_.Get(); }
    std::int64_t Length() const { return length_; }
    // Reads exactly `size` bytes at `offset`; false on a short read or an error.
    bool ReadAt(std::int64_t offset, void* data, std::size_t size) const;

  private:
    platform::UniqueFd fd_;
    std::int64_t length_;
};

} // namespace vornel::package
