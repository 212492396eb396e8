#pragma once
// A FAT file system inside a drive, at a byte offset: made with mkfs.fat, read and written
// with mtools. Names are "/"-separated paths from the file system's root.

#include "Layout.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::fbinst {

// Formats `partition` of the drive at `path` (hidden sectors = its start, so it can boot).
void MakeFat(const std::string& path, const Partition& partition, FatKind kind, Geometry geometry,
             const std::string& label);

class FatVolume {
  public:
    FatVolume(std::string drivePath, std::uint64_t byteOffset);

    bool Exists(const std::string& name) const;
    // Creates every missing folder of `folder` ("a/b/c").
    void MakeFolders(const std::string& folder) const;
    // Copies a local file in as `name` (replacing it), creating its folders.
    void CopyIn(const std::string& sourcePath, const std::string& name) const;
    void WriteFile(const std::string& name, const std::string& bytes) const;
    // The file's bytes, nullopt when there is no such file.
    std::optional<std::string> ReadFile(const std::string& name) const;
    // Hands the file's bytes to `sink` piece by piece; throws Failure when it cannot be read.
    void StreamFile(const std::string& name, const std::function<void(std::string_view)>& sink) const;
    // The file's line of mshowfat: its name and its cluster runs.
    std::string ClusterChain(const std::string& name) const;
    // Every file and folder (folders end in "/"), depth first.
    std::vector<std::string> ListAll() const;
    std::uint64_t FreeBytes() const;

  private:
    std::string Image() const;
    std::string drivePath_;
    std::uint64_t byteOffset_;
};

// "boot/x.img" stays, "/boot//x.img" becomes "boot/x.img"; empty names, "." and ".." parts and
// backslashes are refused with a Failure.
std::string CleanFatName(const std::string& name);

} // namespace vornel::fbinst
