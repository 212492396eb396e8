#include "builder/Operations.h"

#include "bootitems/IsoList.h"
#include "builder/BootMenu.h"
#include "builder/DeleteFolderTree.h"
#include "disktool/ExitCodes.h"
#include "drives/DriveList.h"
#include "package/u_Package.h"
#include "platform/Files.h"

#include <sys/stat.h>
#include <vector>

namespace vornel::builder {

namespace {

const char* const kPackageName = "Data.Vn";
const char* const kToolName = "fbinst.exe";
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

// The drive checks both operations begin with; no letter after the message was shown.
Target CheckedTarget(OperationHost& host, const OperationEnvironment& environment) {
    const std::string line = host.SelectedDriveText();
    if (line == drives::kInsertDiskPrompt) {
        host.ShowMessage("没有发现U盘，请确认U盘是否已插入！");
        return {};
    }
    const char letter = line.empty() ? '\0' : line[0];
    const bool isLetter = letter >= 'A' && letter <= 'Z';
    if (!isLetter || !environment.drives->IsRemovable(letter)) {
        host.ShowMessage("磁盘：" + std::string(1, letter) + ":\\ 不是有效的可移动磁盘！");
        return {};
    }
    return {letter, line};
}

// Package entries carry no execute permission; the tool must be runnable once unpacked.
void MakeToolRunnable(const std::string& workFolder) {
    const std::string tool = workFolder + kToolName;
    struct stat st {};
    if (::stat(tool.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(tool.c_str(), (st.st_mode & 07777) | S_IXUSR);
}

// A new, empty work folder: what an earlier run left there (an old tool, old payload files) must
// never reach the stick. The old tree is removed without following links; empty when the folder
// cannot be made afresh, after the message was shown.
std::string MakeFreshWorkFolder(OperationHost& host, const OperationEnvironment& environment) {
    const std::string folder = environment.tempFolder() + kWorkFolderName;
    DeleteFolderTree(folder);
    if (::mkdir(folder.c_str(), 0700) != 0) {
        host.ShowMessage("无法创建空的临时文件夹 " + folder + "！请删除它后重试。");
        return {};
    }
    return folder;
}

// The message for an extraction that failed, or empty when it succeeded.
std::string ExtractionFailureText(std::int32_t result, const std::string& packageFile,
                                  const std::string& workFolder) {
    if (result >= 0)
        return {};
    if (result == package::kNoSpace)
        return "临时文件夹 " + workFolder + " 已满，无法解压数据包！请清理磁盘空间后重试。";
    if (result == package::kMissingFile)
        return "数据包 " + packageFile + " 丢失！请重新安装！";
    return "数据包 " + packageFile + " 已损坏（错误码 " + std::to_string(result) + "）！请重新安装！";
}

// A path of the package's lists ("\" between folders) as a path on this system.
std::string OnDisk(std::string listed) {
    for (char& c : listed)
        if (c == '\\')
            c = '/';
    return listed;
}

bool AsciiEqualsIgnoreCase(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string OutcomeText(const platform::ProcessOutcome& outcome) {
    if (!outcome.started)
        return "无法启动磁盘工具 fbinst.exe";
    if (!outcome.exited)
        return "磁盘工具 fbinst.exe 被信号 " + std::to_string(outcome.signal) + " 中止";
    if (disktool::GotNoRights(outcome.exitCode))
        return "磁盘工具 fbinst.exe 没有获得操作U盘的权限，错误码 " + std::to_string(outcome.exitCode);
    return "磁盘工具 fbinst.exe 返回错误码 " + std::to_string(outcome.exitCode);
}

// What went wrong and why, as the tool said it in its last line.
std::string FailureText(const platform::ProcessOutcome& outcome) {
    const std::string text = OutcomeText(outcome);
    return outcome.lastErrorLine.empty() ? text : text + "：" + outcome.lastErrorLine;
}

struct ToolCommand {
    std::string line;
    std::string step; // what the user is told failed
    progress::StepInfo progress;
};

// Runs the commands in order, each to its end, showing their progress; stops at the first that
// fails and returns it, with its progress left where it stopped.
const ToolCommand* RunCommands(OperationHost& host, const OperationEnvironment& environment,
                               const std::vector<ToolCommand>& commands, platform::ProcessOutcome& failure) {
    std::uint64_t totalBytes = 0;
    for (const auto& command : commands)
        totalBytes += command.progress.bytes;
    progress::OperationProgress tracker(totalBytes, commands.size());
    const auto show = [&] { host.ShowProgress(tracker.View(progress::Clock::now())); };
    const auto apply = [&](const progress::Record& record) {
        tracker.Apply(record, progress::Clock::now());
        show();
    };
    for (const auto& command : commands) {
        tracker.Begin(command.progress);
        show();
        platform::ProcessOutcome outcome = environment.run(
            command.line, [&host] { host.ProcessEvents(); }, apply);
        if (!outcome.Succeeded()) {
            tracker.Fail();
            show();
            failure = outcome;
            return &command;
        }
        tracker.Finish();
    }
    show();
    return nullptr;
}

// The boot area the format command asks for: the content's whole MiB plus 10 MiB.
std::int64_t BootAreaMiB(std::int64_t contentSize) {
    return contentSize / kMiB + 10;
}

// What the format command's layout takes of the stick: the 8 MiB primary area, the boot area and
// the smallest data partition the disk tool accepts (34 MiB: FAT32 needs 65525 clusters).
std::int64_t StickBytesNeeded(std::int64_t contentSize) {
    return (8 + BootAreaMiB(contentSize) + 34) * kMiB;
}

std::string TooLargeText(const std::string& file) {
    return "文件:" + file + " 太大（4GB或以上）！U盘启动区的FAT文件系统不能存放4GB或以上的文件，";
}

// A confirmation names its target on a line of its own, as the drive list showed it when the
// operation began (the list may have been rescanned since).
std::string WithTarget(const std::string& warning, const Target& target) {
    return warning + "\r" + target.line;
}

std::uint64_t SizeOf(const std::string& path) {
    return static_cast<std::uint64_t>(platform::FileLength(path).value_or(0));
}

std::vector<ToolCommand> BuildCommands(const std::string& workFolder, char letter, bool zipMode,
                                       std::int64_t contentSize, const std::vector<std::string>& fileList,
                                       const std::vector<bootitems::TISOFileInfo>& items) {
    const std::string prefix = workFolder + kToolName + " " + std::string(1, letter) + ": ";
    const std::string q = "\"";
    const std::int64_t extendedMiB = BootAreaMiB(contentSize);
    std::vector<ToolCommand> commands;
    commands.push_back({prefix + " format -f -a " + (zipMode ? " -z" : "") + " -p 8m -e " +
                            std::to_string(extendedMiB) + "m",
                        "格式化U盘",
                        {"正在格式化U盘", "", 0}});
    const progress::StepInfo menu{"正在写入启动菜单", "", 0};
    commands.push_back({prefix + "add-menu -s \"fb.cfg\" \"default 0\"", "写入启动菜单", menu});
    commands.push_back({prefix + "add-menu -s \"fb.cfg\" \"timeout 0\"", "写入启动菜单", menu});
    commands.push_back({prefix + "add-menu -s \"fb.cfg\" \"menu F1 grldr \"grldr\"", "写入启动菜单", menu});
    for (const auto& entry : fileList) {
        std::string onStick = OnDisk(entry);
        commands.push_back(
            {prefix + "add " + q + onStick + q + " " + q + workFolder + entry + q,
             "复制文件 " + onStick + " ",
             {"正在复制文件 " + onStick, "正在校验 " + onStick, SizeOf(workFolder + onStick)}});
    }
    for (size_t n = 0; n < items.size(); ++n) {
        const std::string onStick = CustomImageOnStick(n, items[n].ImagePath);
        commands.push_back({prefix + "add " + q + onStick + q + " " + q + items[n].ImagePath + q,
                            "复制自定义镜像 " + items[n].ImagePath + " ",
                            {"正在复制自定义镜像 " + items[n].ImagePath, "正在校验 " + items[n].ImagePath,
                             SizeOf(items[n].ImagePath)}});
    }
    return commands;
}

} // namespace

void MakeBootDisk(OperationHost& host, const OperationEnvironment& environment) {
    const Target target = CheckedTarget(host, environment);
    if (!target.letter)
        return;
    const char letter = target.letter;
    const std::string workFolder = MakeFreshWorkFolder(host, environment);
    if (workFolder.empty())
        return;

    const std::string packageFile = environment.dataFolder + kPackageName;
    std::int32_t extracted = 0;
    {
        BusyScope busy(host);
        package::TFDPackage reader;
        reader.OnProgress = [&host](const std::string&, std::int32_t, std::int32_t, std::int32_t,
                                    const package::TPackageHeader*, bool&) { host.ProcessEvents(); };
        extracted = reader.ExtractAll(packageFile, workFolder);
    }
    if (const std::string failure = ExtractionFailureText(extracted, packageFile, workFolder);
        !failure.empty()) {
        DeleteFolderTree(workFolder); // partial files would only fill the temporary folder
        host.ShowMessage(failure);
        return;
    }
    MakeToolRunnable(workFolder);

    if (!platform::FileExists(workFolder + "filelist")) {
        host.ShowMessage("列表文件丢失！请重新安装！");
        host.Terminate();
        return;
    }
    const std::vector<std::string> fileList = platform::ReadTextLines(workFolder + "filelist");
    std::int64_t contentSize = 0;
    for (const auto& entry : fileList) {
        auto length = platform::FileLength(workFolder + OnDisk(entry));
        if (!length) {
            host.ShowMessage("文件:" + entry + " 丢失！请重新安装！");
            return;
        }
        if (*length >= kFatFileLimit) {
            host.ShowMessage(TooLargeText(entry) + "请重新安装！");
            return;
        }
        contentSize += *length;
    }

    std::vector<bootitems::TISOFileInfo> items;
    const std::string isoList = bootitems::IsoListPath(environment.dataFolder);
    if (platform::FileExists(isoList)) {
        items = bootitems::ReadIsoList(isoList);
        for (const auto& item : items) {
            if (!bootitems::PathFitsCommandLine(item.ImagePath)) {
                host.ShowMessage("文件:" + item.ImagePath + " " + bootitems::kPathMisfitReason +
                                 "请检查配置！");
                return;
            }
            auto length = platform::FileLength(item.ImagePath);
            if (!length) {
                host.ShowMessage("文件:" + item.ImagePath + " 不存在！请检查配置！");
                return; // a silent abort after the message
            }
            if (*length >= kFatFileLimit) {
                host.ShowMessage(TooLargeText(item.ImagePath) + "请检查配置！");
                return;
            }
            contentSize += *length;
        }
    }

    const std::int64_t capacity = environment.drives->TotalBytes(letter).value_or(0);
    const std::int64_t needed = StickBytesNeeded(contentSize);
    if (capacity < needed) {
        host.ShowMessage("磁盘空间不足，无法制作启动盘！\r至少需要 " + std::to_string(needed >> 20) +
                         " MB 的U盘，这个U盘只有 " + std::to_string(capacity >> 20) + " MB。");
        return;
    }

    WriteBootMenu(workFolder, items);
    if (!host.ConfirmWarning(
            WithTarget("本操作将破坏U盘原有数据，且不可恢复...\r还要继续本操作吗？", target)))
        return;

    BusyScope busy(host);
    const auto commands =
        BuildCommands(workFolder, letter, host.ZipModeSelected(), contentSize, fileList, items);
    platform::ProcessOutcome outcome;
    if (const ToolCommand* failed = RunCommands(host, environment, commands, outcome)) {
        busy.Leave();
        host.ShowMessage("制作失败：" + failed->step + "时出错（" + FailureText(outcome) +
                         "）。U盘上的启动系统不完整，请检查U盘后重新制作。临时文件保留在 " + workFolder);
        host.HideProgress();
        return;
    }
    DeleteFolderTree(workFolder);
    busy.Leave();
    host.HideProgress();
    host.ShowMessage("恭喜你，制作完成！");
}

void RestoreSpace(OperationHost& host, const OperationEnvironment& environment) {
    const Target target = CheckedTarget(host, environment);
    if (!target.letter)
        return;
    const char letter = target.letter;
    if (!host.ConfirmWarning(
            WithTarget("本操作将破坏U盘原有数据，清除引导信息，且不可恢复...\r还要继续本操作吗？", target)))
        return;

    const std::string workFolder = MakeFreshWorkFolder(host, environment);
    if (workFolder.empty())
        return;

    BusyScope busy(host);
    const std::string packageFile = environment.dataFolder + kPackageName;
    bool toolFound = false;
    std::string failure;
    {
        package::TFDPackage reader;
        package::TPackedFileInfoArr entries;
        package::TPackageHeader header;
        package::TFDPackage::ReadFileList(packageFile, entries, header);
        for (const auto& entry : entries) {
            if (AsciiEqualsIgnoreCase(entry.FileName, kToolName)) {
                toolFound = true;
                // File names here are case-sensitive: unpack it under the name the command line uses.
                package::TPackedFileInfo tool = entry;
                tool.FileName = kToolName;
                const std::int32_t written = reader.ExtractFile(packageFile, workFolder, tool);
                // A cut or damaged tool must not run against the stick.
                const std::int32_t result =
                    written < 0 ? written : (written == tool.FileSize ? 0 : package::kSizeMismatch);
                failure = ExtractionFailureText(result, packageFile, workFolder);
                MakeToolRunnable(workFolder);
                break;
            }
        }
    }
    if (!toolFound)
        failure = "数据包 " + packageFile + " 中没有磁盘工具 fbinst.exe，无法还原U盘空间！请重新安装！";
    if (!failure.empty()) {
        DeleteFolderTree(workFolder);
        busy.Leave();
        host.ShowMessage(failure);
        return;
    }

    const std::string line = workFolder + kToolName + " " + std::string(1, letter) + ": format -f -r";
    platform::ProcessOutcome outcome;
    if (RunCommands(host, environment, {{line, "还原U盘空间", {"正在还原U盘空间", "", 0}}}, outcome)) {
        busy.Leave();
        host.ShowMessage("还原失败：还原U盘空间时出错（" + FailureText(outcome) +
                         "）。U盘可能无法使用，请检查U盘后重试。临时文件保留在 " + workFolder);
        host.HideProgress();
        return;
    }
    DeleteFolderTree(workFolder);
    busy.Leave();
    host.HideProgress();
    host.ShowMessage(" U盘空间已还原！");
}

} // namespace vornel::builder
