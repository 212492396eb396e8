#include "FatVolume.h"

#include "ExternalTool.h"
#include "Failure.h"
#include "platform/Ascii.h"
#include "platform/Files.h"
#include "platform/ReadWrite.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <unistd.h>

namespace vornel::fbinst {

namespace {

// A private temporary file holding `bytes`, removed at destruction.
class TempFile {
  public:
    explicit TempFile(const std::string& bytes) : path_(platform::TempPath() + "fbinst-XXXXXX") {
        platform::UniqueFd file(mkstemp(path_.data()));
        if (!file.Valid())
            throw Failure("cannot create a temporary file in " + platform::TempPath());
        if (platform::WriteAll(file.Get(), bytes.data(), bytes.size()).bytes != bytes.size()) {
            unlink(path_.c_str());
            throw Failure("cannot write a temporary file in " + platform::TempPath());
        }
    }
    ~TempFile() { unlink(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

} // namespace

void MakeFat(Disk& disk, const Partition& partition, FatKind kind, Geometry geometry,
             const std::string& label) {
    // The block count (in KiB) bounds mkfs.fat to the partition; it never sizes from the drive.
    const std::uint64_t kib = partition.sectors * kSectorBytes / 1024;
    std::vector<std::string> argv{"mkfs.fat",
                                  "-F",
                                  kind == FatKind::Fat32 ? "32" : "16",
                                  "--offset",
                                  std::to_string(partition.start),
                                  "-h",
                                  std::to_string(partition.start),
                                  "-g",
                                  std::to_string(geometry.heads) + "/" +
                                      std::to_string(geometry.sectorsPerTrack)};
    if (kind == FatKind::Fat16)
        argv.insert(argv.end(), {"-s", std::to_string(Fat16SectorsPerCluster(partition.sectors))});
    if (!label.empty())
        argv.insert(argv.end(), {"-n", label});
    // A whole device with partitions is what the tool means to write here: it made them.
    if (!disk.IsImageFile())
        argv.push_back("-I");
    argv.insert(argv.end(), {kChildDrivePath, std::to_string(kib)});
    disk.WithoutExclusiveClaim([&] { RunToolChecked(argv, {}, disk.Descriptor()); });
}

FatVolume::FatVolume(const Disk& disk, std::uint64_t byteOffset) : disk_(disk), byteOffset_(byteOffset) {}

std::string FatVolume::Image() const {
    return std::string(kChildDrivePath) + "@@" + std::to_string(byteOffset_);
}

ToolRun FatVolume::Run(const std::vector<std::string>& argv,
                       const std::function<void(std::string_view)>& sink) const {
    return RunTool(argv, {}, sink, disk_.Descriptor());
}

std::string FatVolume::RunChecked(const std::vector<std::string>& argv,
                                  const OnToolStarted& onStarted) const {
    return RunToolChecked(argv, {}, disk_.Descriptor(), onStarted);
}

FatVolume::Entries& FatVolume::Listing() {
    if (listing_)
        return *listing_;
    Entries entries;
    for (std::string name : ListAll()) {
        const bool isFolder = name.ends_with('/');
        if (isFolder)
            name.pop_back();
        entries[platform::AsciiLower(name)] = isFolder ? EntryKind::Folder : EntryKind::File;
    }
    return listing_.emplace(std::move(entries));
}

void FatVolume::Made(const std::string& name, EntryKind kind) {
    Entries& entries = Listing();
    for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
        entries[platform::AsciiLower(name.substr(0, slash))] = EntryKind::Folder;
    entries[platform::AsciiLower(name)] = kind;
}

EntryKind FatVolume::Kind(const std::string& name) {
    const Entries& entries = Listing();
    const auto found = entries.find(platform::AsciiLower(name));
    return found == entries.end() ? EntryKind::None : found->second;
}

void FatVolume::MakeFolders(const std::string& folder) {
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = folder.find('/', end + 1);
        const std::string prefix = folder.substr(0, end);
        switch (Kind(prefix)) {
        case EntryKind::Folder:
            break;
        case EntryKind::File:
            throw Failure("\"" + prefix + "\" in the boot area is a file, not a folder");
        case EntryKind::None:
            RunChecked({"mmd", "-i", Image(), "::/" + prefix});
            Made(prefix, EntryKind::Folder);
            break;
        }
    }
}

void FatVolume::CopyIn(const std::string& sourcePath, const std::string& name,
                       const OnToolStarted& onCopying) {
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        MakeFolders(name.substr(0, slash));
    // -D o: replace a file of the same name instead of asking.
    RunChecked({"mcopy", "-n", "-D", "o", "-i", Image(), sourcePath, "::/" + name}, onCopying);
    Made(name, EntryKind::File);
}

void FatVolume::WriteFile(const std::string& name, const std::string& bytes) {
    const TempFile temp(bytes);
    CopyIn(temp.Path(), name);
}

void FatVolume::RemoveQuietly(const std::string& name) {
    listing_.reset(); // whether mdel removed it is not known here: the next question lists again
    Run({"mdel", "-i", Image(), "::/" + name}, [](std::string_view) {});
}

std::optional<std::string> FatVolume::ReadFile(const std::string& name) {
    if (Kind(name) != EntryKind::File)
        return std::nullopt;
    std::string bytes;
    StreamFile(name, [&](std::string_view piece) { bytes.append(piece); });
    return bytes;
}

void FatVolume::StreamFile(const std::string& name, const std::function<void(std::string_view)>& sink) const {
    const ToolRun run = Run({"mtype", "-i", Image(), "::/" + name}, sink);
    if (run.exitCode != 0)
        throw Failure("cannot read \"" + name + "\" from the drive: " + run.errorText);
}

std::string FatVolume::ClusterChain(const std::string& name) const {
    return RunChecked({"mshowfat", "-i", Image(), "::/" + name});
}

std::vector<std::string> FatVolume::ListAll() const {
    std::string listing;
    // mdir -/ -b lists every entry as "::/folder/entry", a folder with a "/" after it.
    const ToolRun run = Run({"mdir", "-/", "-b", "-i", Image(), "::/"},
                            [&](std::string_view piece) { listing.append(piece); });
    if (run.exitCode != 0) {
        // mdir -b fails on an empty root; its plain listing tells that from a volume it cannot read.
        if (RunChecked({"mdir", "-i", Image(), "::/"}).find("No files") == std::string::npos)
            throw Failure("cannot list the boot area: " + run.errorText);
        return {};
    }
    std::vector<std::string> names;
    for (const std::string& line : platform::SplitLines(listing))
        if (line.starts_with("::/") && line.size() > 3)
            names.push_back(line.substr(3));
    return names;
}

FatGeometry FatVolume::Geometry() const {
    std::array<std::uint8_t, kSectorBytes> bootSector{};
    disk_.ReadAt(byteOffset_, bootSector);
    return ParseFatGeometry(bootSector);
}

std::uint64_t FatVolume::FreeBytes() const {
    return CountFreeBytes(Geometry());
}

std::uint64_t FatVolume::CountFreeBytes(const FatGeometry& fat) const {
    if (fat.clusters == 0)
        throw Failure("cannot read the free space of the boot area: its boot sector has no sector count");
    std::vector<std::uint8_t> table(fat.tableBytes);
    disk_.ReadAt(byteOffset_ + fat.tableStartBytes, table);
    return CountFreeClusters(table, fat.clusters) * fat.clusterBytes;
}

bool FatVolume::HasRoomFor(std::uint64_t bytes) const {
    // A large FAT32's table runs to megabytes; its free count is one sector.
    const FatGeometry fat = Geometry();
    if (fat.fsInfoStartBytes != 0) {
        std::array<std::uint8_t, kSectorBytes> fsInfo{};
        disk_.ReadAt(byteOffset_ + fat.fsInfoStartBytes, fsInfo);
        const std::optional<std::uint64_t> free = FsInfoFreeClusters(fsInfo, fat.clusters);
        if (free && *free * fat.clusterBytes >= bytes)
            return true;
    }
    return CountFreeBytes(fat) >= bytes;
}

} // namespace vornel::fbinst
