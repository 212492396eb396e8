#include "builder/Operations.h"

#include "bootitems/IsoList.h"
#include "builder/BootMenu.h"
#include "builder/DeleteFolderTree.h"
#include "package/u_Package.h"
#include "platform/Files.h"

#include <sys/stat.h>
#include <vector>

namespace vornel::builder {

const char* const kNoDriveLine = "请插入U盘！";

namespace {

const char* const kPackageName = "Data.Vn";
const char* const kToolName = "fbinst.exe";
const char* const kWorkFolderName = "VnTemp/";

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

// The drive checks both operations begin with; the letter, or 0 after the message was shown.
char CheckedDriveLetter(OperationHost& host, const OperationEnvironment& environment) {
    const std::string line = host.SelectedDriveText();
    if (line == kNoDriveLine) {
        host.ShowMessage("没有发现U盘，请确认U盘是否已插入！");
        return 0;
    }
    const char letter = line.empty() ? '\0' : line[0];
    const bool isLetter = letter >= 'A' && letter <= 'Z';
    if (!isLetter || !environment.drives->IsRemovable(letter)) {
        host.ShowMessage("磁盘：" + std::string(1, letter) + ":\\ 不是有效的可移动磁盘！");
        return 0;
    }
    return letter;
}

// Package entries carry no execute permission; the tool must be runnable once unpacked.
void MakeToolRunnable(const std::string& workFolder) {
    const std::string tool = workFolder + kToolName;
    struct stat st {};
    if (::stat(tool.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(tool.c_str(), (st.st_mode & 07777) | S_IXUSR);
}

std::string MakeWorkFolder(const OperationEnvironment& environment) {
    std::string folder = environment.tempFolder() + kWorkFolderName;
    ::mkdir(folder.c_str(), 0700); // an existing folder is fine; a failure shows at the next step
    return folder;
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
    // 3: the tool could not ask for rights on the stick; 126 and 127: pkexec, which asks for them,
    // was refused or dismissed.
    if (outcome.exitCode == 3 || outcome.exitCode == 126 || outcome.exitCode == 127)
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

std::uint64_t SizeOf(const std::string& path) {
    return static_cast<std::uint64_t>(platform::FileLength(path).value_or(0));
}

std::vector<ToolCommand> BuildCommands(const std::string& workFolder, char letter, bool zipMode,
                                       std::int64_t contentSize, const std::vector<std::string>& fileList,
                                       const std::vector<bootitems::TISOFileInfo>& items) {
    const std::string prefix = workFolder + kToolName + " " + std::string(1, letter) + ": ";
    const std::string q = "\"";
    const std::int64_t extendedMiB = contentSize / 1048576 + 10;
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
        std::string onStick = "boot/customISO_" + std::to_string(n) + ImageExtension(items[n].ImagePath);
        commands.push_back({prefix + "add " + q + onStick + q + " " + q + items[n].ImagePath + q,
                            "复制自定义镜像 " + items[n].ImagePath + " ",
                            {"正在复制自定义镜像 " + items[n].ImagePath, "正在校验 " + items[n].ImagePath,
                             SizeOf(items[n].ImagePath)}});
    }
    return commands;
}

} // namespace

void MakeBootDisk(OperationHost& host, const OperationEnvironment& environment) {
    const char letter = CheckedDriveLetter(host, environment);
    if (!letter)
        return;
    const std::string workFolder = MakeWorkFolder(environment);

    {
        // The extraction's result is not looked at: the checks below judge what the work folder holds.
        BusyScope busy(host);
        package::TFDPackage reader;
        reader.OnProgress = [&host](const std::string&, std::int32_t, std::int32_t, std::int32_t,
                                    const package::TPackageHeader*, bool&) { host.ProcessEvents(); };
        reader.ExtractAll(environment.dataFolder + kPackageName, workFolder);
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
        contentSize += *length;
    }

    std::vector<bootitems::TISOFileInfo> items;
    const std::string isoList = bootitems::IsoListPath(environment.dataFolder);
    if (platform::FileExists(isoList)) {
        items = bootitems::ReadIsoList(isoList);
        for (const auto& item : items) {
            auto length = platform::FileLength(item.ImagePath);
            if (!length) {
                host.ShowMessage("文件:" + item.ImagePath + " 不存在！请检查配置！");
                return; // a silent abort after the message
            }
            contentSize += *length;
        }
    }

    const std::int64_t capacity = environment.drives->TotalBytes(letter).value_or(0);
    if (capacity < contentSize) {
        host.ShowMessage("磁盘空间不足，无法制作启动盘！");
        return;
    }

    WriteBootMenu(workFolder, items);
    if (!host.ConfirmWarning("本操作将破坏U盘原有数据，且不可恢复...\r还要继续本操作吗？"))
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
    const char letter = CheckedDriveLetter(host, environment);
    if (!letter)
        return;
    if (!host.ConfirmWarning("本操作将破坏U盘原有数据，清除引导信息，且不可恢复...\r还要继续本操作吗？"))
        return;

    BusyScope busy(host);
    std::string workFolder;
    {
        const std::string packageFile = environment.dataFolder + kPackageName;
        package::TFDPackage reader;
        package::TPackedFileInfoArr entries;
        package::TPackageHeader header;
        package::TFDPackage::ReadFileList(packageFile, entries, header);
        for (const auto& entry : entries) {
            if (AsciiEqualsIgnoreCase(entry.FileName, kToolName)) {
                workFolder = MakeWorkFolder(environment);
                // File names here are case-sensitive: unpack it under the name the command line uses.
                package::TPackedFileInfo tool = entry;
                tool.FileName = kToolName;
                reader.ExtractFile(packageFile, workFolder, tool);
                MakeToolRunnable(workFolder);
                break;
            }
        }
    }
    if (workFolder.empty()) {
        busy.Leave();
        host.ShowMessage("数据包 " + environment.dataFolder + kPackageName +
                         " 中没有磁盘工具 fbinst.exe，无法还原U盘空间！请重新安装！");
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
