#include "Verbs.h"

#include "BootArea.h"
#include "CapacityCheck.h"
#include "ChildReadPosition.h"
#include "CopyCheck.h"
#include "Disk.h"
#include "ExternalTool.h"
#include "Failure.h"
#include "FatVolume.h"
#include "Medium.h"
#include "Progress.h"
#include "ProgressWatch.h"
#include "loader/Loader.h"
#include "platform/Ascii.h"
#include "platform/Files.h"
#include "platform/ReadWrite.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace vornel::fbinst {

namespace {

constexpr std::uint64_t kFatMaxFileBytes = 0xFFFFFFFFull;
constexpr std::size_t kMbrCodeBytes = 440;
constexpr std::uint64_t kEarlyWritebackFromBytes = 16ull << 20;
// A menu line's words go into the loader's config, whose reader stops at a word of 8 KiB (GRUB's
// "token too large") and then shows no menu at all; quoting can make a word four times as long.
constexpr std::size_t kMenuLineLimit = 1024;

void WritePartitionTable(Disk& drive, const std::vector<Partition>& partitions) {
    drive.ForgetPartitions();
    // The tool holds the device exclusively, so sfdisk must neither ask the system whether it is
    // in use nor tell it the new table: the tool does that at the end.
    RunToolChecked({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", "--wipe", "always",
                    "--wipe-partitions", "always", kChildDrivePath},
                   SfdiskScript(kChildDrivePath, partitions), drive.Descriptor());
    drive.CheckSize();
    drive.Sync();
}

FoundLayout RequireBootArea(const Disk& drive) {
    std::string whyNot;
    auto found = FindBootArea(drive, whyNot);
    if (!found)
        throw Failure(whyNot);
    return *found;
}

bool IsFbCfg(const std::string& name) {
    return platform::AsciiEqualIgnoringCase(name, "fb.cfg");
}

// The loader reads a config translated from the two menus. A change of one menu rewrites it
// only when the translation changes (or when it is missing), so the last command of a make
// leaves a complete menu and a line the loader ignores costs no write.
void RefreshLoaderConfig(FatVolume& volume, const std::string& changedMenu,
                         const std::optional<std::string>& before, const std::string& after) {
    const bool fbCfgChanged = IsFbCfg(changedMenu);
    const auto otherBytes = volume.ReadFile(fbCfgChanged ? "menu.lst" : "fb.cfg");
    const std::vector<std::string> other =
        otherBytes ? platform::SplitLines(*otherBytes) : std::vector<std::string>{};
    const auto config = [&](const std::string& changed) {
        const std::vector<std::string> lines = platform::SplitLines(changed);
        return fbCfgChanged ? loader::TranslateMenus(lines, other) : loader::TranslateMenus(other, lines);
    };
    const std::string name = CleanFatName(loader::kConfigPath);
    const std::string next = config(after);
    if (volume.Kind(name) == EntryKind::File && config(before.value_or("")) == next)
        return;
    volume.WriteFile(name, next);
}

bool IsMenuFile(const std::string& name) {
    return IsFbCfg(name) || platform::AsciiEqualIgnoringCase(name, "menu.lst");
}

std::string ReadLocalFile(const std::string& path) {
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes) != 0)
        throw Failure("cannot read \"" + path + "\"");
    return bytes;
}

std::string ResolveSource(const std::string& source) {
    if (platform::FileExists(source))
        return source;
    // Payload lines keep the package's "\" separators; they become "/" here.
    std::string slashed = source;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    if (platform::FileExists(slashed))
        return slashed;
    throw Failure("the source file \"" + source + "\" does not exist");
}

// A file of `bytes` can become `target`: no folder has its name, and a new file has room.
void CheckRoomFor(FatVolume& volume, const std::string& target, std::uint64_t bytes) {
    const EntryKind existing = volume.Kind(target);
    if (existing == EntryKind::Folder)
        throw Failure("\"" + target + "\" is a folder in the boot area");
    if (existing != EntryKind::None)
        return;
    if (volume.HasRoomFor(bytes))
        return;
    const std::uint64_t free = volume.FreeBytes();
    throw Failure("the boot area has no room for \"" + target + "\": it needs " + std::to_string(bytes) +
                  " bytes, " + std::to_string(free) + " are free");
}

// Copies the source in, reporting how far mcopy has read it.
void CopyReportingProgress(Disk& drive, FatVolume& volume, const std::string& sourcePath,
                           const std::string& target, std::uint64_t bytes) {
    // The early flush pays off where the copy outlasts a few of its rounds; for a small file its
    // thread costs more than the final flush it would shorten.
    std::optional<EarlyWriteback> writeback;
    if (bytes >= kEarlyWritebackFromBytes)
        writeback.emplace(drive);
    ChildReadPosition reading(sourcePath);
    ProgressWatch copying(progress::Phase::Copy, bytes, [&reading] { return reading.Position(); });
    volume.CopyIn(sourcePath, target, [&reading](pid_t mcopy) { reading.Follow(mcopy); });
    copying.Complete();
}

// The copy is read back from the medium once it is there: the cache still holds every page
// written, and a stick that loses writes shows only on the medium. The FAT's cache goes too, so
// the clusters mtools names are the ones the FAT on the stick holds.
void ReadBack(Disk& drive, const FatVolume& volume, std::uint64_t fatStart, const std::string& target,
              const std::string& sourcePath, std::uint64_t bytes) {
    drive.Sync();
    const DriveMedium medium(drive, false);
    DropFromCache(drive, fatStart, ReadFatGeometry(medium, fatStart).dataStartBytes);
    const CopyOnDrive copy{target, fatStart, ParseClusterRuns(volume.ClusterChain(target)), bytes};
    std::atomic<std::uint64_t> checked{0};
    ProgressWatch checking(progress::Phase::Check, bytes, [&checked] { return checked.load(); });
    CheckCopy(medium, copy, sourcePath, &checked);
    checking.Complete();
}

std::string Describe(const Partition& p) {
    char type[8];
    std::snprintf(type, sizeof type, "0x%02x", p.type);
    return "slot " + std::to_string(p.slot) + ", start " + std::to_string(p.start) + ", " +
           std::to_string(p.sectors) + " sectors (" + std::to_string(p.sectors / kMiBSectors) +
           " MiB), type " + type + (p.active ? ", active" : "");
}

// Checks the drive's capacity (see CapacityCheck.h); returns the seconds it took.
double TimedCapacityCheck(Disk& drive, std::uint64_t bytes) {
    const auto began = std::chrono::steady_clock::now();
    {
        DriveMedium medium(drive, true);
        std::random_device random;
        CheckCapacity(medium, bytes, (std::uint64_t{random()} << 32) | random());
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

// The MBR's boot code becomes `code` (none: zeros) and its CHS fields fit `geometry`; its table
// stays.
void WriteMbrCode(Disk& drive, std::span<const std::uint8_t> code, Geometry geometry) {
    std::array<std::uint8_t, kSectorBytes> mbr{};
    drive.ReadAt(0, mbr);
    std::fill(mbr.begin(), mbr.begin() + kMbrCodeBytes, 0);
    std::copy_n(code.begin(), std::min(code.size(), kMbrCodeBytes), mbr.begin());
    RewriteChs(mbr, geometry);
    drive.WriteAt(0, mbr);
}

void PrintLayout(const Disk& drive, const BootLayout& layout, std::ostream& out) {
    out << "formatted " << drive.Path() << " (" << (layout.mode == Mode::Zip ? "USB-ZIP" : "USB-HDD") << ")\n"
        << "boot area: " << Describe(layout.bootArea) << "\n";
    for (const Partition& image : layout.images)
        out << "image:     " << Describe(image) << "\n";
    out << "data:      " << Describe(layout.data) << "\n";
}

} // namespace

void FormatBoot(Disk& drive, const BootRequest& request, std::ostream& out) {
    const std::uint64_t bytes = drive.Bytes();
    const std::span<const std::uint8_t> core = loader::CoreImage();
    const BootLayout layout = PlanBootLayout(request, bytes / kSectorBytes, core.size());
    const Geometry geometry = layout.mode == Mode::Zip ? kZipGeometry : kHddGeometry;
    // A stick that cannot keep what it reports is refused before the format destroys anything.
    const double checkSeconds = TimedCapacityCheck(drive, bytes);
    constexpr std::uint64_t kSteps = 5;
    ReportProgress(progress::Phase::Step, 0, kSteps);

    std::vector<Partition> table{layout.bootArea};
    table.insert(table.end(), layout.images.begin(), layout.images.end());
    table.push_back(layout.data);
    WritePartitionTable(drive, table);
    ReportProgress(progress::Phase::Step, 1, kSteps);
    MakeFat(drive, layout.bootArea, layout.bootAreaFat, geometry, kBootAreaLabel);
    ReportProgress(progress::Phase::Step, 2, kSteps);
    MakeFat(drive, layout.data, FatKind::Fat32, geometry, "");
    ReportProgress(progress::Phase::Step, 3, kSteps);
    drive.CheckSize();
    WriteMbrCode(drive, loader::MbrBootCode(), geometry);
    // The primary area is cleared first so no old signature (an ISO, a GPT) survives behind the core.
    drive.ZeroRange(kSectorBytes, (layout.bootArea.start - 1) * kSectorBytes);
    drive.WriteAt(kSectorBytes, core);
    drive.Sync();
    ReportProgress(progress::Phase::Step, 4, kSteps);
    // A fresh boot area holds no menus yet.
    FatVolume(drive, layout.bootArea.start * kSectorBytes)
        .WriteFile(CleanFatName(loader::kConfigPath), loader::TranslateMenus({}, {}));
    drive.CheckSize();
    drive.Sync();
    drive.TellSystemNewTable();
    ReportProgress(progress::Phase::Step, kSteps, kSteps);
    char took[32];
    std::snprintf(took, sizeof took, "%.2f", checkSeconds);
    out << "capacity check: " << MarkPlaces(bytes).size() << " marks across the drive, all kept (" << took
        << " s)\n";
    PrintLayout(drive, layout, out);
}

void FormatRestore(Disk& drive, std::ostream& out) {
    const Partition data = PlanRestoreLayout(drive.Bytes() / kSectorBytes);
    constexpr std::uint64_t kSteps = 3;
    ReportProgress(progress::Phase::Step, 0, kSteps);
    WritePartitionTable(drive, {data});
    ReportProgress(progress::Phase::Step, 1, kSteps);
    MakeFat(drive, data, FatKind::Fat32, kHddGeometry, "");
    ReportProgress(progress::Phase::Step, 2, kSteps);
    drive.CheckSize();
    WriteMbrCode(drive, {}, kHddGeometry);
    drive.ZeroRange(kSectorBytes, (data.start - 1) * kSectorBytes);
    drive.Sync();
    drive.TellSystemNewTable();
    ReportProgress(progress::Phase::Step, kSteps, kSteps);
    out << "restored " << drive.Path() << ": one FAT32 partition, " << Describe(data) << "\n";
}

void AddMenuLine(Disk& drive, const std::string& file, const std::string& line, std::ostream& out) {
    const std::string name = CleanFatName(file);
    if (line.find_first_of("\r\n") != std::string::npos)
        throw Failure("a menu line cannot hold a line break");
    if (line.size() > kMenuLineLimit)
        throw Failure("a menu line holds at most " + std::to_string(kMenuLineLimit) + " bytes, this one " +
                      std::to_string(line.size()));
    const FoundLayout layout = RequireBootArea(drive);
    FatVolume volume(drive, layout.bootArea.start * kSectorBytes);
    if (volume.Kind(name) == EntryKind::Folder)
        throw Failure("\"" + name + "\" is a folder in the boot area");
    const std::optional<std::string> before = volume.ReadFile(name);
    std::string text = before.value_or("");
    if (!text.empty() && text.back() != '\n' && text.back() != '\r')
        text += "\r\n";
    text += line + "\r\n";
    volume.WriteFile(name, text);
    if (IsMenuFile(name))
        RefreshLoaderConfig(volume, name, before, text);
    drive.CheckSize();
    drive.Sync();
    DropFromCache(drive, layout.bootArea.start * kSectorBytes, layout.bootArea.sectors * kSectorBytes);
    if (volume.ReadFile(name) != text)
        throw Failure("the menu file \"" + name + "\" on the drive does not hold what was written");
    out << "added to " << name << ": " << line << "\n";
}

void AddFile(Disk& drive, const std::string& name, const std::string& source, std::ostream& out) {
    const std::string target = CleanFatName(name);
    const std::string sourcePath = ResolveSource(source);
    const std::uint64_t sourceBytes =
        static_cast<std::uint64_t>(platform::FileLength(sourcePath).value_or(0));
    if (sourceBytes > kFatMaxFileBytes)
        throw Failure("\"" + sourcePath + "\" is larger than a FAT file can be (4 GiB - 1 byte)");
    const FoundLayout layout = RequireBootArea(drive);
    const std::uint64_t fatStart = layout.bootArea.start * kSectorBytes;
    FatVolume volume(drive, fatStart);
    CheckRoomFor(volume, target, sourceBytes);
    const bool menu = IsMenuFile(target);
    // A menu's old text, for its old translation; its new text is the source's, as the check proves.
    const std::optional<std::string> before = menu ? volume.ReadFile(target) : std::nullopt;
    try {
        CopyReportingProgress(drive, volume, sourcePath, target, sourceBytes);
        if (menu)
            RefreshLoaderConfig(volume, target, before, ReadLocalFile(sourcePath));
        drive.CheckSize();
        ReadBack(drive, volume, fatStart, target, sourcePath, sourceBytes);
    } catch (const std::exception&) {
        volume.RemoveQuietly(target); // a partial or wrong copy must not pass for the file
        throw;
    }
    out << "added " << target << " (" << sourceBytes << " bytes)\n";
}

void ShowInfo(const Disk& drive, std::ostream& out) {
    out << "drive: " << drive.Path() << (drive.IsImageFile() ? " (image file)" : " (device)") << ", "
        << drive.Bytes() << " bytes\n";
    std::array<std::uint8_t, kSectorBytes> mbr{};
    drive.ReadAt(0, mbr);
    for (const Partition& p : ReadPartitionTable(mbr))
        out << "partition: " << Describe(p) << "\n";
    std::string whyNot;
    const auto found = FindBootArea(drive, whyNot);
    if (!found) {
        out << "boot area: none (" << whyNot << ")\n";
        return;
    }
    const FatVolume volume(drive, found->bootArea.start * kSectorBytes);
    out << "mode: " << (found->mode == Mode::Zip ? "USB-ZIP" : "USB-HDD") << "\n"
        << "primary area: sectors 1 to " << found->bootArea.start - 1 << "\n"
        << "boot area: " << (found->bootAreaFat == FatKind::Fat32 ? "FAT32, " : "FAT16, ")
        << Describe(found->bootArea) << ", " << volume.FreeBytes() << " bytes free\n";
}

void ListFiles(const Disk& drive, std::ostream& out) {
    const FoundLayout layout = RequireBootArea(drive);
    for (const std::string& name : FatVolume(drive, layout.bootArea.start * kSectorBytes).ListAll())
        out << name << "\n";
}

void CatFile(const Disk& drive, const std::string& name, std::ostream& out) {
    const std::string target = CleanFatName(name);
    const FoundLayout layout = RequireBootArea(drive);
    FatVolume volume(drive, layout.bootArea.start * kSectorBytes);
    const EntryKind kind = volume.Kind(target);
    if (kind == EntryKind::Folder)
        throw Failure("\"" + target + "\" is a folder in the boot area, not a file");
    if (kind == EntryKind::None)
        throw Failure("no file \"" + target + "\" in the boot area");
    volume.StreamFile(target, [&](std::string_view piece) {
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    });
    out.flush();
}

} // namespace vornel::fbinst
