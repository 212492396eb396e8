#pragma once
// Looking at disk image files with tools independent of the disk tool: sfdisk, fsck.fat, mtools.

#include "platform/Drives.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::fbinst::testing {

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the built fbinst.exe with `args`; the image drives come from $VORNEL_DRIVES.
ToolResult RunFbinstExe(const std::vector<std::string>& args);
ToolResult RunProgram(const std::vector<std::string>& argv);

struct DumpedPartition {
    int slot = 0;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::string type;
    bool bootable = false;
};
// The partitions as `sfdisk --dump` shows them.
std::vector<DumpedPartition> SfdiskDump(const std::string& image);

// fsck.fat -n over a copy of the partition's sectors; the result holds its exit code and output.
ToolResult FsckFat(const std::string& image, std::uint64_t startSector, std::uint64_t sectors);

// The bytes of a file inside the FAT at `startSector`, read with mtype.
ToolResult Mtype(const std::string& image, std::uint64_t startSector, const std::string& name);

std::string ReadBytes(const std::string& path, std::uint64_t offset, std::uint64_t length);
// A 64-bit FNV-1a digest of the whole file, to see that nothing changed.
std::uint64_t Fingerprint(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
void MakeSparseImage(const std::string& path, std::uint64_t bytes);

// A fake sysfs below `root` with one 64 MiB disk sdc (device 8:32), removable or fixed, and empty
// /dev and udev folders; the caller puts what stands for /dev/sdc at `node`.
struct FakeSdcTree {
    FakeSdcTree(const std::string& root, bool removable);
    platform::LinuxDriveSources sources;
    std::string node;
};

// A fresh folder under the temporary folder, removed with everything in it at destruction.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

} // namespace vornel::fbinst::testing
