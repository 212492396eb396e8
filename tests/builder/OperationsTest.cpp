#include "builder/Operations.h"

#include "PackageWriter.h"
#include "TempFolder.h"
#include "builder/RunAndWait.h"
#include "disktool/CommandLines.h"
#include "package/u_Package.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace vornel;
using namespace vornel::builder;
using vornel::test::ReadBytes;
using vornel::test::TempFolder;
using vornel::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

class FakeHost final : public OperationHost {
  public:
    std::string SelectedDriveText() override { return driveText; }
    bool ZipModeSelected() override { return zip; }
    void SetBusy(bool busy) override { busyChanges.push_back(busy); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool ConfirmWarning(const std::string& text) override {
        confirmations.push_back(text);
        return answerYes;
    }
    void ProcessEvents() override {
        QCoreApplication::processEvents();
        if (onEvents)
            onEvents();
    }
    void Terminate() override { terminated = true; }
    void ShowProgress(const vornel::progress::ProgressView& view) override { views.push_back(view); }
    void HideProgress() override {
        views.emplace_back();
        views.back().step = "hidden";
    }

    bool Busy() const { return !busyChanges.empty() && busyChanges.back(); }

    std::string driveText = "G: (Generic Flash_Disk STICK 容量：7.45GB)";
    bool zip = false;
    bool answerYes = true;
    bool terminated = false;
    std::function<void()> onEvents; // what happens in the window while the operation works
    std::vector<bool> busyChanges;
    std::vector<std::string> messages;
    std::vector<std::string> confirmations;
    std::vector<vornel::progress::ProgressView> views;
};

class FakeDrives final : public platform::DriveQueries {
  public:
    std::uint32_t LogicalDrives() override { return 1u << ('G' - 'A'); }
    bool IsRemovable(char letter) override { return letter == 'G'; }
    std::optional<std::string> VolumeLabel(char) override { return "STICK"; }
    std::optional<std::int64_t> TotalBytes(char) override { return capacity; }
    std::optional<platform::DeviceIdentity> Identity(char) override {
        return platform::DeviceIdentity{"Generic", "Flash Disk"};
    }
    std::optional<std::string> DevicePath(char) override { return "/dev/sdz"; }
    std::optional<std::int64_t> capacity = std::int64_t{8} << 30;
};

constexpr std::int64_t kMiB = 1048576;

const char* const kMakeConfirmation = "本操作将破坏U盘原有数据，且不可恢复...\r还要继续本操作吗？";

class OperationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("FAKE_FBINST_LOG", (temp.path() / "tool.log").c_str(), 1);
        ::unsetenv("FAKE_FBINST_FAIL_AT");
        ::unsetenv("FAKE_FBINST_SLEEP_MS");
        ::unsetenv("FAKE_FBINST_ERROR");
        ::unsetenv("FAKE_FBINST_RECORDS");
        environment.dataFolder = data.slashed();
        environment.tempFolder = [this] { return temp.slashed(); };
        environment.drives = &drives;
        environment.run = [this](const std::string& line, const std::function<void()>& pump,
                                 const vornel::builder::ProgressListener& onProgress) {
            lines.push_back(line);
            return RunAndWait(line, pump, onProgress);
        };
        files = {{"filelist", "menu.lst\r\nboot\\a.bin\r\n"},
                 {"defMenu.txt", "timeout 5\r\ndefault 0\r\n"},
                 {"menu.lst", "old\r\n"},
                 {"boot\\a.bin", std::string(1000, 'a')}};
    }

    // Writes the data folder's package from `files`, with the stand-in tool as fbinst.exe.
    void Pack(const std::string& toolName = "fbinst.exe", bool withTool = true) {
        mkpackage::PackageWriter writer(data.slashed() + "Data.Vn");
        if (withTool)
            writer.AddFile(toolName, FAKE_FBINST_PATH, 0x20);
        for (const auto& [name, bytes] : files)
            writer.AddBytes(name, bytes, 0x20);
        writer.Finish();
    }

    std::string Work() const { return temp.slashed() + "VnTemp/"; }
    std::string Log() const { return ReadBytes(temp.path() / "tool.log"); }

    TempFolder data, temp;
    FakeHost host;
    FakeDrives drives;
    OperationEnvironment environment;
    std::vector<std::string> lines;
    std::map<std::string, std::string> files;
};

// Sets the recorded FileSize of the package entry stored as `name` (ASCII names only).
void SetFileSize(std::string& package, const std::string& name, std::int64_t size) {
    auto int32At = [&](size_t at) {
        std::int32_t value = 0;
        std::memcpy(&value, package.data() + at, 4);
        return value;
    };
    for (size_t entry = 23; entry + 288 <= package.size();
         entry += 288 + static_cast<size_t>(int32At(entry + 260)))
        if (package.compare(entry + 1, static_cast<unsigned char>(package[entry]), name) == 0) {
            const auto value = static_cast<std::int32_t>(size);
            std::memcpy(package.data() + entry + 256, &value, 4);
        }
}

} // namespace

TEST_F(OperationsTest, MakeRunsEveryCommandLineInOrderAndCleansUp) {
    Pack();
    WriteBytes(data.path() / "a.ISO", "iso");
    WriteBytes(data.path() / "b.img", "img");
    // A list kept by the Windows program: a GBK line naming a file whose name on disk is GBK.
    const std::string gbkImage = data.slashed() + "\xD6\xD0.img";
    WriteBytes(gbkImage, "gbk");
    WriteBytes(data.path() / "isolist", "PE系统|" + data.slashed() + "a.ISO\r\nDOS|" + data.slashed() +
                                            "b.img\r\n\xB9\xA4\xBE\xDF|" + gbkImage + "\r\n");
    // A rescan while the package is unpacked changes the list; the warning names the chosen drive.
    const std::string chosen = host.driveText;
    host.onEvents = [this] { host.driveText = "H: (Other Disk  容量：1.00GB)"; };
    MakeBootDisk(host, environment);

    // The lines themselves are the contract's (disktool/CommandLines.h, tested there).
    const std::string w = Work();
    const std::string p = disktool::ToolPrefix(w, 'G');
    std::vector<std::string> expected{disktool::FormatLine(p, false, 10)};
    for (const std::string& line : disktool::StartMenuLines(p))
        expected.push_back(line);
    for (const auto& [onStick, source] :
         std::vector<std::pair<std::string, std::string>>{{"menu.lst", w + "menu.lst"},
                                                          {"boot/a.bin", w + "boot\\a.bin"},
                                                          {"boot/customISO_0.iso", data.slashed() + "a.ISO"},
                                                          {"boot/customISO_1.img", data.slashed() + "b.img"},
                                                          {"boot/customISO_2.img", gbkImage}})
        expected.push_back(disktool::AddLine(p, onStick, source));
    EXPECT_EQ(lines, expected);
    // The GBK name reaches the tool as the bytes it is stored with.
    EXPECT_TRUE(Log().ends_with("G:|add|boot/customISO_2.img|" + gbkImage + "\n")) << Log();
    // The warning names its target on a line of its own, as the drive list shows it.
    EXPECT_EQ(host.confirmations, std::vector<std::string>{std::string(kMakeConfirmation) + "\r" + chosen});
    EXPECT_EQ(host.messages, std::vector<std::string>{"恭喜你，制作完成！"});
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false, true, false}));
    EXPECT_FALSE(fs::exists(w));
}

TEST_F(OperationsTest, ZipModeAndTheBootAreaSizeFromTheContent) {
    // N = content MiB (remainder dropped) + 10, on 64 bits.
    struct Case {
        std::int64_t customImageSize;
        std::string expected;
    };
    files = {{"filelist", "f\r\n"}, {"defMenu.txt", ""}, {"f", ""}};
    Pack();
    host.zip = true;
    for (const Case& c :
         {Case{1048575, "10m"}, Case{1048576, "11m"}, Case{(std::int64_t{4} << 30) - 1, "4105m"}}) {
        lines.clear();
        fs::path image = data.path() / "big.iso";
        fs::remove(image);
        WriteBytes(image, "");
        fs::resize_file(image, static_cast<std::uintmax_t>(c.customImageSize));
        WriteBytes(data.path() / "isolist", "big|" + image.string() + "\r\n");
        MakeBootDisk(host, environment);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], Work() + "fbinst.exe G:  format -f -a  -z -p 8m -e " + c.expected);
    }
}

TEST_F(OperationsTest, DriveChecksStopBeforeAnythingIsTouched) {
    Pack();
    host.driveText = "请插入U盘！";
    MakeBootDisk(host, environment);
    RestoreSpace(host, environment);
    host.driveText = "H: (x  容量：)";
    MakeBootDisk(host, environment);
    RestoreSpace(host, environment);
    EXPECT_EQ(host.messages, (std::vector<std::string>{
                                 "没有发现U盘，请确认U盘是否已插入！", "没有发现U盘，请确认U盘是否已插入！",
                                 "磁盘：H:\\ 不是有效的可移动磁盘！", "磁盘：H:\\ 不是有效的可移动磁盘！"}));
    EXPECT_TRUE(host.busyChanges.empty());
    EXPECT_TRUE(host.confirmations.empty());
    EXPECT_FALSE(fs::exists(Work()));
    EXPECT_TRUE(lines.empty());
}

TEST_F(OperationsTest, PayloadAndImageChecksStopWithTheirMessagesAndLeaveNoWorkFolder) {
    files["filelist"] = "menu.lst\r\n\r\n";
    Pack();
    MakeBootDisk(host, environment);
    EXPECT_FALSE(fs::exists(Work()));
    // A line that leaves the work folder names a file that exists, which the tool would refuse
    // only after formatting the stick.
    files["filelist"] = "menu.lst\r\n..\\..\\" + fs::path(data.path()).filename().string() + "\\isolist\r\n";
    WriteBytes(data.path() / "isolist", "");
    Pack();
    MakeBootDisk(host, environment);
    fs::remove(data.path() / "isolist");
    files["filelist"] = "menu.lst\r\nboot\\missing.bin\r\n";
    Pack();
    MakeBootDisk(host, environment);
    files["filelist"] = "boot\r\n"; // a folder is not a file
    Pack();
    MakeBootDisk(host, environment);
    files["filelist"] = "menu.lst\r\n";
    Pack();
    WriteBytes(data.path() / "isolist", "x|/nowhere/x.iso\r\n\r\n");
    MakeBootDisk(host, environment);
    WriteBytes(data.path() / "isolist", "a|" + (data.path() / "isolist").string() + "\r\n\r\n");
    MakeBootDisk(host, environment);

    ASSERT_EQ(host.messages.size(), 6u);
    EXPECT_EQ(host.messages[1].rfind("文件:..\\..\\", 0), 0u) << host.messages[1];
    EXPECT_TRUE(host.messages[1].ends_with(" 的路径指向临时文件夹以外，数据包已损坏！请重新安装！"))
        << host.messages[1];
    host.messages.erase(host.messages.begin() + 1);
    EXPECT_EQ(host.messages, (std::vector<std::string>{
                                 "文件: 丢失！请重新安装！", "文件:boot\\missing.bin 丢失！请重新安装！",
                                 "文件:boot 丢失！请重新安装！", "文件:/nowhere/x.iso 不存在！请检查配置！",
                                 "文件: 不存在！请检查配置！"}));
    EXPECT_TRUE(host.confirmations.empty());
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(host.Busy());
    EXPECT_FALSE(fs::exists(Work()));
}

TEST_F(OperationsTest, NoListFileTerminatesTheProgram) {
    files.erase("filelist");
    Pack();
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.messages, std::vector<std::string>{"列表文件丢失！请重新安装！"});
    EXPECT_TRUE(host.terminated);
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(OperationsTest, TheStickMustHoldTheWholeLayout) {
    // 8 MiB primary area, a boot area of the content's 1 MiB + 10 MiB, and the disk tool's
    // smallest data partition of 34 MiB.
    files = {{"filelist", "f\r\n"}, {"defMenu.txt", ""}, {"f", std::string(static_cast<size_t>(kMiB), 'f')}};
    Pack();
    drives.capacity = 53 * kMiB - 1;
    MakeBootDisk(host, environment);
    drives.capacity = std::nullopt; // a failed query counts as 0
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.messages,
              (std::vector<std::string>{
                  "磁盘空间不足，无法制作启动盘！\r至少需要 53 MB 的U盘，这个U盘只有 52 MB。",
                  "磁盘空间不足，无法制作启动盘！\r至少需要 53 MB 的U盘，这个U盘只有 0 MB。"}));
    EXPECT_TRUE(host.confirmations.empty());
    drives.capacity = 53 * kMiB;
    host.answerYes = false;
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.confirmations.size(), 1u);
}

// A sparse file of `bytes` in the data folder.
std::string SparseImage(const TempFolder& folder, const std::string& name, std::uintmax_t bytes) {
    const fs::path path = folder.path() / name;
    WriteBytes(path, "");
    fs::resize_file(path, bytes);
    return path.string();
}

TEST_F(OperationsTest, ImagesTheStickCannotTakeAreRefusedByNameBeforeTheWarning) {
    // FAT holds at most 4 GiB - 1 byte; only an ISO gets a partition of its own, and two at most.
    const std::string hugeImg = SparseImage(data, "huge.img", std::uintmax_t{4} << 30);
    const std::string iso = SparseImage(data, "big.iso", std::uintmax_t{4} << 30);
    const fs::path quoted = data.path() / "a \"b\".iso", slashed = data.path() / "c.iso\\";
    WriteBytes(quoted, "");
    WriteBytes(slashed, "");
    Pack();
    for (const std::string& list :
         {"x|" + hugeImg + "\r\n", "x|" + quoted.string() + "\r\n", "x|" + slashed.string() + "\r\n",
          "a|" + iso + "\r\nb|" + iso + "\r\nc|" + iso + "\r\n"}) {
        WriteBytes(data.path() / "isolist", list);
        MakeBootDisk(host, environment);
    }
    ASSERT_EQ(host.messages.size(), 4u);
    EXPECT_EQ(host.messages[0], "文件:" + hugeImg +
                                    " 太大（4GB或以上）！U盘启动区的FAT文件系统不能存放4GB或以上的文件，"
                                    "只有ISO镜像才能放进U盘上自己的分区，请检查配置！");
    for (size_t i : {1u, 2u})
        EXPECT_EQ(
            host.messages[i].rfind("文件:" + (i == 1 ? quoted : slashed).string() + " 的路径含有双引号", 0),
            0u)
            << host.messages[i];
    EXPECT_EQ(host.messages[3], "文件:" + iso +
                                    " 是第三个4GB或以上的镜像！这样的镜像每个要占用U盘上的一个分区，"
                                    "U盘的分区表只能再放两个，请检查配置！");
    EXPECT_TRUE(host.confirmations.empty());
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(fs::exists(Work()));
}

TEST_F(OperationsTest, IsosOf4GiBGoIntoPartitionsOfTheirOwnInTheSlotsTheModeLeavesFree) {
    files = {{"filelist", "f\r\n"}, {"defMenu.txt", ""}, {"f", ""}};
    Pack();
    // 4 GiB + 1 byte takes 4097 MiB, exactly 4 GiB 4096; the small image stays in the boot area.
    const std::string first = SparseImage(data, "first.iso", (std::uintmax_t{4} << 30) + 1);
    const std::string small = SparseImage(data, "small.img", 1 << 20);
    const std::string second = SparseImage(data, "second.ISO", std::uintmax_t{4} << 30);
    WriteBytes(data.path() / "isolist", "A|" + first + "\r\nB|" + small + "\r\nC|" + second + "\r\n");
    // The layout, the image partitions and the smallest data partition, to the byte.
    const std::int64_t needed = (8 + 11 + 4097 + 4096 + 34) * kMiB;
    drives.capacity = needed - 1;
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.messages,
              std::vector<std::string>{
                  "磁盘空间不足，无法制作启动盘！\r至少需要 8246 MB 的U盘，这个U盘只有 8245 MB。"});
    drives.capacity = needed;
    for (const bool zip : {false, true}) {
        host.zip = zip;
        lines.clear();
        MakeBootDisk(host, environment);
        const std::string p = disktool::ToolPrefix(Work(), 'G');
        const int partitionSlot[] = {zip ? 1 : 3, zip ? 3 : 4};
        std::vector<std::string> expected{disktool::FormatLine(p, zip, 11, {4097, 4096})};
        for (const std::string& line : disktool::StartMenuLines(p))
            expected.push_back(line);
        expected.insert(expected.end(), {disktool::AddLine(p, "f", Work() + "f"),
                                         disktool::AddImageLine(p, partitionSlot[0], first),
                                         disktool::AddLine(p, "boot/customISO_1.img", small),
                                         disktool::AddImageLine(p, partitionSlot[1], second)});
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(host.confirmations.back(), std::string(kMakeConfirmation) + "\r" + host.driveText);
        EXPECT_EQ(host.messages.back(), "恭喜你，制作完成！");
    }

    // The menu maps each from its partition of the boot disk (grub4dos counts them from 0).
    host.answerYes = false;
    MakeBootDisk(host, environment);
    EXPECT_EQ(
        ReadBytes(Work() + "menu.lst"),
        "\r\ntitle A\r\nmap (hd0,0) (0xFF)\r\nmap --hook\r\nchainloader (0xFF)\r\n"
        "\r\ntitle B\r\nmap --mem (ud)/boot/customISO_1.img (fd0)\r\nmap --hook\r\nrootnoverify (fd0)\r\n"
        "chainloader +1\r\n\r\ntitle C\r\nmap (hd0,2) (0xFF)\r\nmap --hook\r\nchainloader (0xFF)\r\n");
}

TEST_F(OperationsTest, AnsweringNoRunsNothingAndLeavesTheWrittenMenu) {
    Pack();
    host.answerYes = false;
    MakeBootDisk(host, environment);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(ReadBytes(Work() + "menu.lst"), "timeout 5\r\ndefault 0\r\n");
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(OperationsTest, DamagedDataNamesItsEntryInTheMakeAndTheRestore) {
    Pack();
    std::string bytes = ReadBytes(data.path() / "Data.Vn");
    bytes[23 + 288 + 4] ^= 0x55; // inside the first entry's deflate data: the tool's
    WriteBytes(data.path() / "Data.Vn", bytes);
    MakeBootDisk(host, environment);
    RestoreSpace(host, environment);
    ASSERT_EQ(host.messages.size(), 2u);
    for (const std::string& message : host.messages)
        EXPECT_EQ(message.rfind(
                      "数据包 " + data.slashed() + "Data.Vn 中的文件 fbinst.exe 已损坏（压缩数据有误：", 0),
                  0u)
            << message;
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false, true, false}));
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(fs::exists(Work()));
}

TEST_F(OperationsTest, AFailingToolStopsTheCommandsAndIsNeverReportedAsSuccess) {
    Pack();
    ::setenv("FAKE_FBINST_FAIL_AT", "3", 1);
    ::setenv("FAKE_FBINST_EXIT", "7", 1);
    ::setenv("FAKE_FBINST_ERROR", "fbinst: the boot area is damaged", 1);
    ::setenv("FAKE_FBINST_RECORDS", "step 1 2", 1);
    MakeBootDisk(host, environment);
    EXPECT_EQ(lines.size(), 3u);
    ASSERT_EQ(host.messages.size(), 1u);
    // The tool's last line is its reason.
    EXPECT_EQ(host.messages[0], "制作失败：写入启动菜单时出错（磁盘工具 fbinst.exe 返回错误码 7："
                                "fbinst: the boot area is damaged）。"
                                "U盘上的启动系统不完整，请检查U盘后重新制作。临时文件保留在 " +
                                    Work());
    // The progress stopped where it failed, and went only when the message had been read.
    ASSERT_GE(host.views.size(), 2u);
    EXPECT_EQ(host.views.back().step, "hidden");
    const auto& stopped = host.views[host.views.size() - 2];
    EXPECT_EQ(stopped.step, "出错停止：正在写入启动菜单");
    EXPECT_EQ(stopped.stepPercent, 50);
    EXPECT_TRUE(stopped.timeLeft.empty());
    EXPECT_FALSE(host.Busy());
    EXPECT_TRUE(fs::exists(Work() + "menu.lst"));

    // A tool that cannot be started at all.
    host.messages.clear();
    lines.clear();
    ::unsetenv("FAKE_FBINST_FAIL_AT");
    files["fbinst.exe"] = "not a program";
    Pack("tool");
    MakeBootDisk(host, environment);
    EXPECT_EQ(lines.size(), 1u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("格式化U盘时出错（无法启动磁盘工具 fbinst.exe）"), std::string::npos);
}

// A stick whose capacity check fails is refused at the format with a message of its own, and
// nothing is left behind; a copy the stick does not keep names its file and says why.
TEST_F(OperationsTest, AStickThatKeepsLessThanItReportsOrLosesACopyStopsTheMake) {
    Pack();
    ::setenv("FAKE_FBINST_FAIL_AT", "1", 1);
    ::setenv("FAKE_FBINST_EXIT", "4", 1);
    ::setenv("FAKE_FBINST_ERROR", "fbinst: the drive keeps less than the 8589934592 bytes it reports", 1);
    MakeBootDisk(host, environment);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(host.messages, std::vector<std::string>{
                                 "容量检测失败：这个U盘报告的容量是 8192 MB，但它实际的容量比这小，"
                                 "写到后面的数据会丢失或覆盖前面的数据。这是虚标容量的U盘，"
                                 "不能用来制作启动盘，也不要用它保存数据！\r制作已停止，U盘没有被格式化。"});
    EXPECT_EQ(host.views.back().step, "hidden");
    EXPECT_FALSE(host.Busy());
    EXPECT_FALSE(fs::exists(Work()));

    // The sixth command copies boot/a.bin (after the format, the three menu lines and menu.lst).
    host.messages.clear();
    fs::remove(temp.path() / "tool.log");
    ::setenv("FAKE_FBINST_FAIL_AT", "6", 1);
    ::setenv("FAKE_FBINST_EXIT", "5", 1);
    ::setenv("FAKE_FBINST_ERROR", "fbinst: the copy of \"boot/a.bin\" read back from the drive differs", 1);
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"制作失败：复制文件 boot/a.bin 时出错（从U盘读回的数据与写入的不同，"
                                       "这个U盘没能保存写入的数据，可能已经损坏：fbinst: the copy of "
                                       "\"boot/a.bin\" read back from the drive differs）。"
                                       "U盘上的启动系统不完整，请检查U盘后重新制作。临时文件保留在 " +
                                       Work()});
}

TEST_F(OperationsTest, EachOperationLeavesALogThatAFailureNamesAndTheNewestLogsStay) {
    Pack();
    const fs::path logs = temp.path() / "logs";
    fs::create_directories(logs);
    for (int i = 10; i < 22; ++i) // older logs: one make more leaves two too many
        WriteBytes(logs / ("20000101-0000" + std::to_string(i) + "-make.log"), "old");
    environment.logFolder = logs.string() + "/";
    environment.programVersion = "9.8.7.6";
    MakeBootDisk(host, environment);
    EXPECT_EQ(std::distance(fs::directory_iterator(logs), {}), 10);
    EXPECT_FALSE(fs::exists(logs / "20000101-000012-make.log"));
    EXPECT_TRUE(fs::exists(logs / "20000101-000013-make.log"));

    // The stand-in counts its calls: the third of the next make fails.
    ::setenv("FAKE_FBINST_FAIL_AT", std::to_string(lines.size() + 3).c_str(), 1);
    ::setenv("FAKE_FBINST_EXIT", "7", 1);
    ::setenv("FAKE_FBINST_ERROR", "fbinst: the boot area is damaged", 1);
    lines.clear();
    MakeBootDisk(host, environment);
    ASSERT_EQ(host.messages.size(), 2u);
    const std::string named = "\r详细记录见日志文件 ";
    const std::size_t at = host.messages[1].find(named);
    ASSERT_NE(at, std::string::npos) << host.messages[1];
    const std::string log = ReadBytes(host.messages[1].substr(at + named.size()));
    // The version, the drive as the user chose it and as the system knows it, each command with
    // its exit and all the tool said, and the failure.
    for (const std::string& part :
         {std::string("9.8.7.6: make"), "drive: " + host.driveText, std::string("device: /dev/sdz"),
          std::string("model: Generic Flash Disk"), std::string("size: 8589934592 bytes"), lines[0], lines[2],
          std::string("exit code 7, after "), std::string("note: a line before the reason"),
          std::string("failed: MakeCommandFailed")})
        EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;

    // A log that cannot be written does not stop the make, and no message names it.
    ::unsetenv("FAKE_FBINST_FAIL_AT");
    environment.logFolder = (data.path() / "Data.Vn").string() + "/";
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.messages.back(), "恭喜你，制作完成！");
}

TEST_F(OperationsTest, ProgressFollowsTheStepsAndTheToolsRecordsToTheEnd) {
    Pack();
    ::setenv("FAKE_FBINST_RECORDS", "capacity 1 2;copy 400 1000;check 1000 1000", 1);
    MakeBootDisk(host, environment);
    ASSERT_EQ(host.messages, std::vector<std::string>{"恭喜你，制作完成！"});
    ASSERT_GE(host.views.size(), 3u);
    EXPECT_EQ(host.views.front().step, "正在格式化U盘");
    EXPECT_EQ(host.views.back().step, "hidden");
    host.views.pop_back();
    const auto seen = [&](const std::string& step, int percent) {
        return std::any_of(host.views.begin(), host.views.end(),
                           [&](const auto& v) { return v.step == step && v.stepPercent == percent; });
    };
    EXPECT_TRUE(seen("正在检测U盘的实际容量", 50));
    EXPECT_TRUE(seen("正在复制文件 boot/a.bin", 40));
    EXPECT_TRUE(seen("正在校验 boot/a.bin", 100));
    for (size_t i = 1; i < host.views.size(); ++i)
        EXPECT_LE(host.views[i - 1].overallPercent, host.views[i].overallPercent) << i;
    EXPECT_EQ(host.views.back().overallPercent, 100);
}

TEST_F(OperationsTest, RestoreExtractsOnlyTheToolRunsOneLineAndCleansUp) {
    Pack("FBINST.EXE");
    RestoreSpace(host, environment);
    EXPECT_EQ(
        host.confirmations,
        std::vector<std::string>{
            "本操作将破坏U盘原有数据，清除引导信息，且不可恢复...\r还要继续本操作吗？\r" + host.driveText});
    EXPECT_EQ(lines, std::vector<std::string>{Work() + "fbinst.exe G: format -f -r"});
    EXPECT_EQ(Log(), "G:|format|-f|-r\n");
    EXPECT_EQ(host.messages, std::vector<std::string>{" U盘空间已还原！"});
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(fs::exists(Work()));
}

TEST_F(OperationsTest, RestoreWithoutAToolOrWithAFailingOneSaysSo) {
    host.answerYes = false;
    Pack();
    RestoreSpace(host, environment);
    EXPECT_TRUE(host.busyChanges.empty());
    EXPECT_TRUE(lines.empty());

    host.answerYes = true;
    Pack("boot\\fbinst.exe"); // only a top-level entry counts
    RestoreSpace(host, environment);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("没有磁盘工具 fbinst.exe"), std::string::npos);

    host.messages.clear();
    Pack();
    ::setenv("FAKE_FBINST_FAIL_AT", "1", 1);
    RestoreSpace(host, environment);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("还原失败：还原U盘空间时出错（磁盘工具 fbinst.exe 返回错误码", 0), 0u);
    EXPECT_TRUE(fs::exists(Work() + "fbinst.exe"));
    EXPECT_FALSE(host.Busy());

    // A tool cut short in the package never runs.
    host.messages.clear();
    lines.clear();
    std::string cut = ReadBytes(data.path() / "Data.Vn");
    SetFileSize(cut, "fbinst.exe", static_cast<std::int64_t>(fs::file_size(FAKE_FBINST_PATH)) + 1);
    WriteBytes(data.path() / "Data.Vn", cut);
    RestoreSpace(host, environment);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(host.messages,
              std::vector<std::string>{"数据包 " + data.slashed() +
                                       "Data.Vn 已损坏（文件 fbinst.exe，错误码 -201）！请重新安装！"});
    EXPECT_FALSE(fs::exists(Work()));

    // A damaged package is not one without the tool.
    host.messages.clear();
    cut[0] = 'f';
    WriteBytes(data.path() / "Data.Vn", cut);
    RestoreSpace(host, environment);
    EXPECT_EQ(host.messages, std::vector<std::string>{"数据包 " + data.slashed() +
                                                      "Data.Vn 已损坏（错误码 -101）！请重新安装！"});
    Pack();

    // Rights on the stick that were refused are named as such.
    host.messages.clear();
    ::setenv("FAKE_FBINST_FAIL_AT", "2", 1); // the tool's second call in this test
    ::setenv("FAKE_FBINST_EXIT", "126", 1);
    RestoreSpace(host, environment);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("没有获得操作U盘的权限，错误码 126"), std::string::npos)
        << host.messages[0];
}

TEST_F(OperationsTest, TheWindowIsServicedDuringALongExtractionAndALongToolRun) {
    std::string noise(48 << 20, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    files["boot\\a.bin"] = noise;
    Pack();
    ::setenv("FAKE_FBINST_SLEEP_MS", "700", 1);

    // A timer of the window's event loop: its ticks show how often events were processed.
    std::vector<std::chrono::steady_clock::time_point> ticks;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (host.Busy())
            ticks.push_back(std::chrono::steady_clock::now());
    });
    timer.start();
    MakeBootDisk(host, environment);
    EXPECT_EQ(host.messages, std::vector<std::string>{"恭喜你，制作完成！"});

    ASSERT_GT(ticks.size(), 20u);
    std::vector<std::chrono::steady_clock::duration> gaps;
    for (size_t i = 1; i < ticks.size(); ++i)
        gaps.push_back(ticks[i] - ticks[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    // Busy machines stall a process now and then; nearly every gap must still be short.
    EXPECT_LT(gaps[gaps.size() * 95 / 100], std::chrono::milliseconds(150));
    EXPECT_LT(gaps.back(), std::chrono::milliseconds(1000));
}

TEST_F(OperationsTest, AFailedExtractionStopsBeforeTheWarningAndLeavesNoWorkFolder) {
    const std::string packageFile = data.slashed() + "Data.Vn";
    Pack();
    const std::string good = ReadBytes(packageFile);
    // The payload boot\a.bin (1000 bytes) recorded as longer, then shorter, than its stream.
    for (std::int32_t delta : {+1, -1}) {
        std::string bytes = good;
        SetFileSize(bytes, "boot\\a.bin", 1000 + delta);
        WriteBytes(packageFile, bytes);
        MakeBootDisk(host, environment);
    }
    // More than the temporary folder holds, whatever the header's total claims.
    const std::int64_t available = package::AvailableBytes(temp.path().string());
    files.clear();
    for (std::int64_t n = 0; n <= available / 0x7FFFFFFF; ++n)
        files["pad" + std::to_string(n)] = "";
    Pack();
    std::string bytes = ReadBytes(packageFile);
    for (const auto& [name, content] : files)
        SetFileSize(bytes, name, 0x7FFFFFFF);
    bytes.replace(7, 8, std::string(8, '\0'));
    WriteBytes(packageFile, bytes);
    MakeBootDisk(host, environment);
    fs::remove(packageFile);
    MakeBootDisk(host, environment);

    const std::string damaged =
        "数据包 " + packageFile + " 已损坏（文件 boot\\a.bin，错误码 -201）！请重新安装！";
    ASSERT_EQ(host.messages.size(), 4u);
    EXPECT_EQ(host.messages[0], damaged);
    EXPECT_EQ(host.messages[1], damaged);
    EXPECT_EQ(host.messages[2].rfind(
                  "临时文件夹 " + Work() + " 已满，无法解压数据包！请清理磁盘空间后重试。\r需要 ", 0),
              0u)
        << host.messages[2];
    EXPECT_EQ(host.messages[3], "数据包 " + packageFile + " 丢失！请重新安装！");
    EXPECT_TRUE(host.confirmations.empty());
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(host.terminated);
    EXPECT_FALSE(host.Busy());
    EXPECT_FALSE(fs::exists(Work()));
}

TEST_F(OperationsTest, AnOldWorkFolderIsEmptiedWithoutFollowingItsLinks) {
    fs::create_directories(Work() + "boot");
    WriteBytes(Work() + "fbinst.exe", "#!/bin/sh\necho old tool\n");
    WriteBytes(Work() + "boot/old.bin", "old");
    WriteBytes(data.path() / "keep.iso", "mine");
    fs::create_symlink(data.path() / "keep.iso", Work() + "boot/link.iso");
    fs::create_directory_symlink(data.path(), Work() + "data");
    Pack();
    host.answerYes = false;
    MakeBootDisk(host, environment);

    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(Work()))
        left.push_back(fs::relative(entry.path(), Work()).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"boot", "boot/a.bin", "defMenu.txt", "fbinst.exe", "filelist",
                                              "menu.lst"}));
    EXPECT_EQ(fs::file_size(Work() + "fbinst.exe"), fs::file_size(FAKE_FBINST_PATH));
    EXPECT_EQ(ReadBytes(data.path() / "keep.iso"), "mine");
    EXPECT_TRUE(fs::exists(data.path() / "Data.Vn"));
}
