#include "builder/Operations.h"

#include "bootitems/IsoList.h"
#include "builder/BootMenu.h"
#include "builder/DeleteFolderTree.h"
#include "builder/OperationLog.h"
#include "disktool/CommandLines.h"
#include "disktool/ExitCodes.h"
#include "drives/DriveList.h"
#include "failure/ChineseText.h"
#include "package/EntryPath.h"
#include "package/u_Package.h"
#include "platform/Ascii.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace vornel::builder {

namespace {

using Clock = std::chrono::steady_clock;
using failure::Failure;
using failure::Kind;
using failure::ToolEnd;

const char* const kPackageName = "Data.Vn";
const char* const kWorkFolderName = "VnTemp/";
constexpr std::int64_t kMiB = 1048576;
// FAT holds files up to 4 GiB - 1 byte; the boot area is FAT.
constexpr std::int64_t kFatFileLimit = std::int64_t{4} << 30;

// Holds the busy state for one stretch of an operation and leaves it on every way out.
class BusyScope {
  public:
    explicit BusyScope(OperationHost& host) : host_(host) { host_.SetBusy(true); }
    ~BusyScope() { Leave(); }
    void Leave() {
        if (busy_)
            host_.SetBusy(false);
        busy_ = false;
    }

  private:
    OperationHost& host_;
    bool busy_ = true;
};

// The drive the user chose: its letter and its line in the drive list.
struct Target {
    char letter = 0;
    std::string line;
};

// The drive checks both operations begin with; nullopt after the message that says why.
std::optional<Target> ChosenDrive(OperationHost& host, const OperationEnvironment& environment) {
    const std::string line = host.SelectedDriveText();
    const char letter = line.empty() ? '\0' : line[0];
    std::optional<Failure> refused;
    if (line == drives::kInsertDiskPrompt)
        refused.emplace(Kind::NoDrive);
    else if (!(letter >= 'A' && letter <= 'Z') || !environment.drives->IsRemovable(letter))
        refused.emplace(Kind::NotRemovable, std::string(1, letter) + ":\\");
    if (refused) {
        host.ShowMessage(failure::ChineseText(*refused));
        return std::nullopt;
    }
    return Target{letter, line};
}

// The log of an operation on the chosen drive, which it records first.
OperationLog StartLog(const char* operation, const Target& target, const OperationEnvironment& environment) {
    OperationLog log(environment.logFolder, operation, environment.programVersion);
    platform::DriveQueries& drives = *environment.drives;
    const std::optional<platform::DeviceIdentity> identity = drives.Identity(target.letter);
    log.Drive(target.line, drives.DevicePath(target.letter).value_or(""),
              identity ? identity->vendor + " " + identity->product : "",
              drives.TotalBytes(target.letter).value_or(0));
    return log;
}

// Runs an operation; a failure ends it with its message and the place of its log. A tool
// failure's progress stays shown until its message has been read; a missing list file ends the
// program once the handler has returned.
void Attempt(OperationHost& host, OperationLog& log, const std::function<void()>& operation) {
    try {
        operation();
    } catch (const Failure& failure) {
        const std::string shown = failure::WithLogPlace(failure::ChineseText(failure), log.Path());
        log.Failed(failure, shown);
        host.ShowMessage(shown);
        if (failure.kind == Kind::MakeCommandFailed || failure.kind == Kind::RestoreCommandFailed ||
            failure.kind == Kind::FakeCapacity)
            host.HideProgress();
        if (failure.kind == Kind::ListFileMissing)
            host.Terminate();
    } catch (const std::exception& error) {
        log.Line(std::string("error: ") + error.what());
        throw; // for the general error report
    }
}

// Package entries carry no execute permission; the tool must be runnable once unpacked.
void MakeToolRunnable(const std::string& workFolder) {
    const std::string tool = workFolder + disktool::kToolName;
    struct stat st {};
    if (::stat(tool.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(tool.c_str(), (st.st_mode & 07777) | S_IXUSR);
}

// A new, empty work folder: what an earlier run left there (an old tool, old payload files) must
// never reach the stick. The old tree is removed without following links.
std::string MakeFreshWorkFolder(const OperationEnvironment& environment, OperationLog& log) {
    const std::string folder = environment.tempFolder() + kWorkFolderName;
    DeleteFolderTree(folder);
    if (::mkdir(folder.c_str(), 0700) != 0)
        throw Failure(Kind::WorkFolder, folder, errno);
    log.Line("work folder: " + folder);
    return folder;
}

// Unpacks the whole package into the work folder, keeping the window serviced meanwhile.
void ExtractPackage(OperationHost& host, const std::string& packageFile, const std::string& workFolder,
                    OperationLog& log) {
    BusyScope busy(host);
    package::TFDPackage reader;
    reader.OnProgress = [&host](const std::string&, std::int32_t, std::int32_t, std::int32_t,
                                const package::TPackageHeader*, bool&) { host.ProcessEvents(); };
    const Clock::time_point begun = Clock::now();
    const std::int32_t extracted = reader.ExtractAll(packageFile, workFolder);
    if (extracted < 0)
        throw reader.DescribeFailure(extracted, packageFile, workFolder);
    log.Line("unpacked " + packageFile + ": " + std::to_string(extracted) + " files in " +
             SecondsText(Clock::now() - begun));
}

// Only the disk tool out of the package, whole, under the name the command line uses.
void ExtractTool(const std::string& packageFile, const std::string& workFolder, OperationLog& log) {
    package::TFDPackage reader;
    package::TPackedFileInfoArr entries;
    package::TPackageHeader header;
    // A damaged package is not a package without the tool.
    if (const std::int32_t listed = package::TFDPackage::ReadFileList(packageFile, entries, header);
        listed < 0)
        throw reader.DescribeFailure(listed, packageFile, workFolder);
    const auto found =
        std::find_if(entries.begin(), entries.end(), [](const package::TPackedFileInfo& entry) {
            return platform::AsciiEqualIgnoringCase(entry.FileName, disktool::kToolName);
        });
    if (found == entries.end())
        throw Failure(Kind::ToolNotInPackage, packageFile);
    // File names here are case-sensitive: unpack it under the name the command line uses.
    package::TPackedFileInfo tool = *found;
    tool.FileName = disktool::kToolName;
    const std::int32_t written = reader.ExtractFile(packageFile, workFolder, tool);
    // A cut or damaged tool must not run against the stick.
    if (written != tool.FileSize)
        throw reader.DescribeFailure(written < 0 ? written : package::kSizeMismatch, packageFile, workFolder);
    MakeToolRunnable(workFolder);
    log.Line("unpacked " + std::string(disktool::kToolName) + " from " + packageFile);
}

// The list file's lines, each naming an existing file below the work folder that FAT can hold;
// their lengths are added to `contentSize`.
std::vector<std::string> CheckedFileList(const std::string& workFolder, std::int64_t& contentSize) {
    if (!platform::FileExists(workFolder + "filelist"))
        throw Failure(Kind::ListFileMissing);
    std::vector<std::string> fileList = platform::ReadTextLines(workFolder + "filelist");
    for (const std::string& entry : fileList) {
        const std::optional<std::int64_t> length =
            platform::FileLength(workFolder + package::NativePath(entry));
        if (!length)
            throw Failure(Kind::ListedFileMissing, entry);
        // The disk tool would refuse it too, but only once the stick is formatted.
        if (!package::EntryLevels(entry))
            throw Failure(Kind::ListedPathOutside, entry);
        if (*length >= kFatFileLimit)
            throw Failure(Kind::ListedFileTooLarge, entry);
        contentSize += *length;
    }
    return fileList;
}

// A custom item and its image's path as the file system knows it. An ISO FAT cannot hold goes
// into a partition of its own, in table slot `partitionSlot`, of `partitionMiB`.
struct CustomImage {
    bootitems::TISOFileInfo item;
    std::string onDisk;
    int partitionSlot = 0; // 0: a file in the boot area
    std::int64_t partitionMiB = 0;
};

// The items of the user's list, each an existing image whose path the command line can carry:
// one FAT can hold, whose length is added to `contentSize`, or an ISO of 4 GiB or more, which gets
// the next image partition the mode leaves free (two at most).
std::vector<CustomImage> CheckedImages(const std::string& dataFolder, bool zipMode,
                                       std::int64_t& contentSize) {
    std::vector<CustomImage> images;
    const std::string isoList = bootitems::IsoListPath(dataFolder);
    if (!platform::FileExists(isoList))
        return images;
    int partitions = 0;
    for (bootitems::TISOFileInfo& item : bootitems::ReadIsoList(isoList)) {
        std::string onDisk = bootitems::ImageOnDisk(item);
        if (!bootitems::PathFitsCommandLine(onDisk))
            throw Failure(Kind::ImagePathMisfit, item.ImagePath);
        const std::optional<std::int64_t> length = platform::FileLength(onDisk);
        if (!length)
            throw Failure(Kind::ImageMissing, item.ImagePath);
        CustomImage image{std::move(item), std::move(onDisk)};
        if (*length < kFatFileLimit) {
            contentSize += *length;
        } else if (ImageExtension(image.item.ImagePath) != ".iso") {
            throw Failure(Kind::ImageTooLarge, image.item.ImagePath);
        } else if (partitions == disktool::kMaxImagePartitions) {
            throw Failure(Kind::TooManyLargeImages, image.item.ImagePath);
        } else {
            image.partitionSlot = disktool::ImagePartitionSlot(zipMode, partitions++);
            image.partitionMiB = (*length + kMiB - 1) / kMiB;
        }
        images.push_back(std::move(image));
    }
    return images;
}

// The images' partitions, by item number, as the boot menu names them.
PartitionSlots ImagePartitionSlots(const std::vector<CustomImage>& images) {
    PartitionSlots slots;
    for (size_t n = 0; n < images.size(); ++n)
        if (images[n].partitionSlot != 0)
            slots[n] = images[n].partitionSlot;
    return slots;
}

std::vector<std::int64_t> ImagePartitionsMiB(const std::vector<CustomImage>& images) {
    std::vector<std::int64_t> sizes;
    for (const CustomImage& image : images)
        if (image.partitionSlot != 0)
            sizes.push_back(image.partitionMiB);
    return sizes;
}

// The boot area the format command asks for: the content's whole MiB plus 10 MiB.
std::int64_t BootAreaMiB(std::int64_t contentSize) {
    return contentSize / kMiB + 10;
}

// What the format command's layout takes of the stick: the 8 MiB primary area, the boot area, the
// image partitions and the smallest data partition the disk tool accepts (34 MiB: FAT32 needs
// 65525 clusters). The data partition has the rest.
std::int64_t StickBytesNeeded(std::int64_t contentSize, const std::vector<std::int64_t>& imagePartitionsMiB) {
    std::int64_t mib = 8 + BootAreaMiB(contentSize) + 34;
    for (const std::int64_t partition : imagePartitionsMiB)
        mib += partition;
    return mib * kMiB;
}

// A confirmation names its target on a line of its own, as the drive list showed it when the
// operation began (the list may have been rescanned since).
std::string WithTarget(const std::string& warning, const Target& target) {
    return warning + "\r" + target.line;
}

std::uint64_t SizeOf(const std::string& path) {
    return static_cast<std::uint64_t>(platform::FileLength(path).value_or(0));
}

struct ToolCommand {
    std::string line;
    std::string step; // what the user is told failed
    progress::StepInfo progress;
};

std::vector<ToolCommand> BuildCommands(const std::string& workFolder, char letter, bool zipMode,
                                       std::int64_t contentSize, const std::vector<std::string>& fileList,
                                       const std::vector<CustomImage>& images) {
    const std::string prefix = disktool::ToolPrefix(workFolder, letter);
    std::vector<ToolCommand> commands;
    commands.push_back(
        {disktool::FormatLine(prefix, zipMode, BootAreaMiB(contentSize), ImagePartitionsMiB(images)),
         "格式化U盘",
         {"正在格式化U盘", "", 0, "正在检测U盘的实际容量"}});
    for (const std::string& line : disktool::StartMenuLines(prefix))
        commands.push_back({line, "写入启动菜单", {"正在写入启动菜单", "", 0, ""}});
    for (const std::string& entry : fileList) {
        const std::string onStick = package::NativePath(entry);
        commands.push_back(
            {disktool::AddLine(prefix, onStick, workFolder + entry),
             "复制文件 " + onStick + " ",
             {"正在复制文件 " + onStick, "正在校验 " + onStick, SizeOf(workFolder + onStick), ""}});
    }
    for (size_t n = 0; n < images.size(); ++n) {
        const std::string& shown = images[n].item.ImagePath;
        commands.push_back(
            {images[n].partitionSlot != 0
                 ? disktool::AddImageLine(prefix, images[n].partitionSlot, images[n].onDisk)
                 : disktool::AddLine(prefix, CustomImageOnStick(n, shown), images[n].onDisk),
             "复制自定义镜像 " + shown + " ",
             {"正在复制自定义镜像 " + shown, "正在校验 " + shown, SizeOf(images[n].onDisk), ""}});
    }
    return commands;
}

Failure ToolFailure(Kind kind, const ToolCommand& command, const platform::ProcessOutcome& outcome,
                    const std::string& workFolder) {
    if (!outcome.started)
        return Failure(kind, command.step, ToolEnd::NotStarted, outcome.startError, "", workFolder);
    if (!outcome.exited)
        return Failure(kind, command.step, ToolEnd::Signal, outcome.signal, outcome.lastErrorLine,
                       workFolder);
    const ToolEnd end = disktool::GotNoRights(outcome.exitCode)          ? ToolEnd::NoRights
                        : outcome.exitCode == disktool::kExitCopyDiffers ? ToolEnd::CopyDiffers
                                                                         : ToolEnd::ExitCode;
    return Failure(kind, command.step, end, outcome.exitCode, outcome.lastErrorLine, workFolder);
}

// Runs the commands in order, each to its end, showing their progress and logging each; the first
// that fails leaves its progress where it stopped and ends the run with a failure of `failed`.
void RunCommands(OperationHost& host, const OperationEnvironment& environment,
                 const std::vector<ToolCommand>& commands, Kind failed, const std::string& workFolder,
                 OperationLog& log) {
    std::uint64_t totalBytes = 0;
    std::size_t steps = commands.size();
    for (const auto& command : commands) {
        totalBytes += command.progress.bytes;
        steps += command.progress.capacity.empty() ? 0 : 1;
    }
    progress::OperationProgress tracker(totalBytes, steps);
    const auto show = [&] { host.ShowProgress(tracker.View(progress::Clock::now())); };
    const auto apply = [&](const progress::Record& record) {
        tracker.Apply(record, progress::Clock::now());
        show();
    };
    for (const auto& command : commands) {
        tracker.Begin(command.progress);
        show();
        const Clock::time_point begun = Clock::now();
        const platform::ProcessOutcome outcome = environment.run(
            command.line, [&host] { host.ProcessEvents(); }, apply);
        log.Command(command.line, outcome, Clock::now() - begun);
        if (!outcome.Succeeded()) {
            tracker.Fail();
            show();
            throw ToolFailure(failed, command, outcome, workFolder);
        }
        tracker.Finish();
    }
    show();
}

// What a make puts on the stick, checked before anything is written.
struct Payload {
    std::vector<std::string> fileList;
    std::vector<CustomImage> images;
    std::int64_t contentSize = 0;
    bool zipMode = false;
    std::int64_t capacity = 0;
};

// Refuses a stick too small for the payload, logging what it needs.
void CheckStickSize(const Payload& payload, const Target& target, OperationLog& log) {
    const std::vector<std::int64_t> partitionsMiB = ImagePartitionsMiB(payload.images);
    const std::int64_t needed = StickBytesNeeded(payload.contentSize, partitionsMiB);
    log.Line("content: " + std::to_string(payload.fileList.size()) + " files and " +
             std::to_string(payload.images.size()) + " custom images, " +
             std::to_string(payload.contentSize) + " bytes in the boot area, " +
             std::to_string(partitionsMiB.size()) + " images in partitions of their own; the stick needs " +
             std::to_string(needed) + " bytes");
    if (payload.capacity < needed)
        throw Failure(Kind::StickTooSmall, target.line, needed, payload.capacity);
}

// Unpacks the package, checks its files, the user's images and the stick's size, and writes the
// boot menu, all in the work folder.
Payload PreparePayload(OperationHost& host, const OperationEnvironment& environment, const Target& target,
                       const std::string& workFolder, OperationLog& log) {
    Payload payload;
    ExtractPackage(host, environment.dataFolder + kPackageName, workFolder, log);
    MakeToolRunnable(workFolder);
    // Read once: the image partitions' slots, in the menu and the commands, depend on it.
    payload.zipMode = host.ZipModeSelected();
    payload.fileList = CheckedFileList(workFolder, payload.contentSize);
    payload.images = CheckedImages(environment.dataFolder, payload.zipMode, payload.contentSize);
    payload.capacity = environment.drives->TotalBytes(target.letter).value_or(0);
    CheckStickSize(payload, target, log);
    std::vector<bootitems::TISOFileInfo> items;
    for (const CustomImage& image : payload.images)
        items.push_back(image.item);
    WriteBootMenu(workFolder, items, ImagePartitionSlots(payload.images));
    return payload;
}

// Runs the make's commands. A stick that keeps less than it reports is refused before the format:
// nothing is made, so nothing is left to look at either.
void WriteStick(OperationHost& host, const OperationEnvironment& environment, const Target& target,
                const std::string& workFolder, const Payload& payload, OperationLog& log) {
    try {
        RunCommands(host, environment,
                    BuildCommands(workFolder, target.letter, payload.zipMode, payload.contentSize,
                                  payload.fileList, payload.images),
                    Kind::MakeCommandFailed, workFolder, log);
    } catch (const Failure& failure) {
        if (failure.toolEnd != ToolEnd::ExitCode || failure.code != disktool::kExitFakeCapacity)
            throw;
        DeleteFolderTree(workFolder);
        throw Failure(Kind::FakeCapacity, target.line, 0, payload.capacity);
    }
}

void Make(OperationHost& host, const OperationEnvironment& environment, const Target& target,
          OperationLog& log) {
    const std::string workFolder = MakeFreshWorkFolder(environment, log);
    Payload payload;
    try {
        payload = PreparePayload(host, environment, target, workFolder, log);
    } catch (...) {
        // A refusal before the question leaves nothing behind.
        DeleteFolderTree(workFolder);
        throw;
    }
    if (!host.ConfirmWarning(
            WithTarget("本操作将破坏U盘原有数据，且不可恢复...\r还要继续本操作吗？", target))) {
        log.Line("the user answered No: nothing was written");
        return;
    }
    log.Line("the user answered Yes");

    BusyScope busy(host);
    WriteStick(host, environment, target, workFolder, payload, log);
    DeleteFolderTree(workFolder);
    busy.Leave();
    host.HideProgress();
    log.Line("the boot disk is made");
    host.ShowMessage("恭喜你，制作完成！");
}

void Restore(OperationHost& host, const OperationEnvironment& environment, const Target& target,
             OperationLog& log) {
    if (!host.ConfirmWarning(
            WithTarget("本操作将破坏U盘原有数据，清除引导信息，且不可恢复...\r还要继续本操作吗？", target))) {
        log.Line("the user answered No: nothing was written");
        return;
    }
    log.Line("the user answered Yes");
    const std::string workFolder = MakeFreshWorkFolder(environment, log);

    BusyScope busy(host);
    try {
        ExtractTool(environment.dataFolder + kPackageName, workFolder, log);
    } catch (...) {
        DeleteFolderTree(workFolder);
        throw;
    }
    const std::string line = disktool::RestoreLine(disktool::ToolPrefix(workFolder, target.letter));
    RunCommands(host, environment, {{line, "还原U盘空间", {"正在还原U盘空间", "", 0, ""}}},
                Kind::RestoreCommandFailed, workFolder, log);
    DeleteFolderTree(workFolder);
    busy.Leave();
    host.HideProgress();
    log.Line("the drive's space is given back");
    host.ShowMessage(" U盘空间已还原！");
}

using Operation = void (*)(OperationHost&, const OperationEnvironment&, const Target&, OperationLog&);

// An operation on the drive the user chose, with its log from the drive checks on.
void OnChosenDrive(OperationHost& host, const OperationEnvironment& environment, const char* name,
                   Operation operation) {
    const std::optional<Target> target = ChosenDrive(host, environment);
    if (!target)
        return;
    OperationLog log = StartLog(name, *target, environment);
    Attempt(host, log, [&] { operation(host, environment, *target, log); });
}

} // namespace

void MakeBootDisk(OperationHost& host, const OperationEnvironment& environment) {
    OnChosenDrive(host, environment, "make", Make);
}

void RestoreSpace(OperationHost& host, const OperationEnvironment& environment) {
    OnChosenDrive(host, environment, "restore", Restore);
}

} // namespace vornel::builder
