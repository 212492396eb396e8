#include "FatVolume.h"

#include "ExternalTool.h"
#include "Failure.h"
#include "platform/Files.h"

#include <cstdlib>
#include <unistd.h>

namespace vornel::fbinst {

namespace {

// A private temporary file holding `bytes`, removed at destruction.
class TempFile {
  public:
    explicit TempFile(const std::string& bytes) : path_(platform::TempPath() + "fbinst-XXXXXX") {
        const int fd = mkstemp(path_.data());
        if (fd < 0)
            throw Failure("cannot create a temporary file in " + platform::TempPath());
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                close(fd);
                unlink(path_.c_str());
                throw Failure("cannot write a temporary file in " + platform::TempPath());
            }
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

} // namespace

void MakeFat(const std::string& path, const Partition& partition, FatKind kind, Geometry geometry,
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
    argv.insert(argv.end(), {path, std::to_string(kib)});
    RunToolChecked(argv);
}

FatVolume::FatVolume(std::string drivePath, std::uint64_t byteOffset)
    : drivePath_(std::move(drivePath)), byteOffset_(byteOffset) {
    // mtools reads "@@" in "-i path@@offset" as the offset mark: such a path would name another file.
    if (drivePath_.find("@@") != std::string::npos)
        throw Failure("the drive's path \"" + drivePath_ + "\" holds \"@@\", which mtools cannot take");
}

std::string FatVolume::Image() const {
    return drivePath_ + "@@" + std::to_string(byteOffset_);
}

std::string CleanFatName(const std::string& name) {
    std::string clean;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        std::size_t end = name.find('/', begin);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(begin, end - begin);
        if (part == "." || part == ".." || part.find('\\') != std::string::npos)
            throw Failure("bad name \"" + name + "\" on the drive");
        if (!part.empty())
            clean += (clean.empty() ? "" : "/") + part;
        begin = end + 1;
    }
    if (clean.empty())
        throw Failure("empty name on the drive");
    return clean;
}

bool FatVolume::Exists(const std::string& name) const {
    const ToolRun run = RunTool({"mdir", "-b", "-i", Image(), "::/" + name}, {}, [](std::string_view) {});
    return run.exitCode == 0;
}

void FatVolume::MakeFolders(const std::string& folder) const {
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = folder.find('/', end + 1);
        const std::string prefix = folder.substr(0, end);
        if (!Exists(prefix))
            RunToolChecked({"mmd", "-i", Image(), "::/" + prefix});
    }
}

void FatVolume::CopyIn(const std::string& sourcePath, const std::string& name) const {
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        MakeFolders(name.substr(0, slash));
    // -D o: replace a file of the same name instead of asking.
    RunToolChecked({"mcopy", "-n", "-D", "o", "-i", Image(), sourcePath, "::/" + name});
}

void FatVolume::WriteFile(const std::string& name, const std::string& bytes) const {
    const TempFile temp(bytes);
    CopyIn(temp.Path(), name);
}

std::optional<std::string> FatVolume::ReadFile(const std::string& name) const {
    if (!Exists(name))
        return std::nullopt;
    std::string bytes;
    StreamFile(name, [&](std::string_view piece) { bytes.append(piece); });
    return bytes;
}

void FatVolume::StreamFile(const std::string& name, const std::function<void(std::string_view)>& sink) const {
    const ToolRun run = RunTool({"mtype", "-i", Image(), "::/" + name}, {}, sink);
    if (run.exitCode != 0)
        throw Failure("cannot read \"" + name + "\" from the drive: " + run.errorText);
}

std::string FatVolume::ClusterChain(const std::string& name) const {
    return RunToolChecked({"mshowfat", "-i", Image(), "::/" + name});
}

std::vector<std::string> FatVolume::ListAll() const {
    const std::string listing = RunToolChecked({"mdir", "-/", "-b", "-i", Image(), "::/"});
    std::vector<std::string> names;
    for (const std::string& line : platform::SplitLines(listing))
        if (line.starts_with("::/") && line.size() > 3)
            names.push_back(line.substr(3));
    return names;
}

std::uint64_t FatVolume::FreeBytes() const {
    // mdir ends with "      12 345 678 bytes free", digits grouped by blanks.
    const std::string listing = RunToolChecked({"mdir", "-i", Image(), "::/"});
    for (const std::string& line : platform::SplitLines(listing)) {
        if (line.find("bytes free") == std::string::npos)
            continue;
        std::uint64_t value = 0;
        for (char c : line.substr(0, line.find("bytes free")))
            if (c >= '0' && c <= '9')
                value = value * 10 + static_cast<std::uint64_t>(c - '0');
        return value;
    }
    throw Failure("cannot read the free space of the boot area");
}

} // namespace vornel::fbinst
