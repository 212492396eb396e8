#pragma once
// A FAT file system inside a drive, at a byte offset: made with mkfs.fat, read and written
// with mtools, which reach the drive only through the opened Disk's descriptor. Names are
// "/"-separated paths from the file system's root (see FatName.h). A volume lists its entries
// once and keeps that list up to date through its own changes: the tool holds the drive alone.

#include "Disk.h"
#include "ExternalTool.h"
#include "FatGeometry.h"
#include "FatName.h"
#include "Layout.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::fbinst {

// Formats `partition` of `disk` (hidden sectors = its start, so it can boot).
void MakeFat(Disk& disk, const Partition& partition, FatKind kind, Geometry geometry,
             const std::string& label);

enum class EntryKind { None, File, Folder };

// The volume's listing is read on first use and kept up to date through its own changes, so
// asking about a name may run mdir: only the methods that read nothing through it are const.
class FatVolume {
  public:
    FatVolume(const Disk& disk, std::uint64_t byteOffset);

    EntryKind Kind(const std::string& name);
    // Creates every missing folder of `folder` ("a/b/c").
    void MakeFolders(const std::string& folder);
    // Copies a local file in as `name` (replacing it), creating its folders. `onCopying` is told
    // the copying process.
    void CopyIn(const std::string& sourcePath, const std::string& name, const OnToolStarted& onCopying = {});
    void WriteFile(const std::string& name, const std::string& bytes);
    // Removes the file if it is there; failures are left unreported, for cleaning up after
    // another failure.
    void RemoveQuietly(const std::string& name);
    // The file's bytes, nullopt when there is no such file.
    std::optional<std::string> ReadFile(const std::string& name);
    // Hands the file's bytes to `sink` piece by piece; throws Failure when it cannot be read.
    void StreamFile(const std::string& name, const std::function<void(std::string_view)>& sink) const;
    // The file's line of mshowfat: its name and its cluster runs.
    std::string ClusterChain(const std::string& name) const;
    // Every file and folder (folders end in "/"), depth first; empty for an empty volume. Throws
    // Failure when the volume cannot be listed.
    std::vector<std::string> ListAll() const;
    // Counted in the volume's own table, where asking mdir would start another process.
    std::uint64_t FreeBytes() const;
    // Whether `bytes` fit in the free space: FAT32 keeps a free count, which is enough when it says
    // they fit; the table is counted when it says they do not, or has none.
    bool HasRoomFor(std::uint64_t bytes) const;

  private:
    // Every file and folder, by its name in lower case (FAT ignores case), read on first use.
    using Entries = std::map<std::string, EntryKind>;
    Entries& Listing();
    // Notes a file or folder this volume made, and the folders above it.
    void Made(const std::string& name, EntryKind kind);
    std::string Image() const;
    FatGeometry Geometry() const;
    // The free bytes its table lists.
    std::uint64_t CountFreeBytes(const FatGeometry& fat) const;
    ToolRun Run(const std::vector<std::string>& argv,
                const std::function<void(std::string_view)>& sink) const;
    std::string RunChecked(const std::vector<std::string>& argv, const OnToolStarted& onStarted = {}) const;
    const Disk& disk_;
    std::uint64_t byteOffset_;
    std::optional<Entries> listing_;
};

} // namespace vornel::fbinst
