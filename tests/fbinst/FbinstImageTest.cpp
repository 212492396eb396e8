// The tool's verbs on disk image files, judged by sfdisk, fsck.fat and mtools.

#include "ImageChecks.h"
#include "disktool/CommandLines.h"
#include "loader/Loader.h"
#include "platform/CommandLine.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace vornel::fbinst::testing {
namespace {

constexpr std::uint64_t kImageBytes = 256ull << 20;
constexpr std::uint64_t kImageSectors = kImageBytes / 512;
constexpr std::uint64_t kBootStart = 16384;    // -p 8m, aligned
constexpr std::uint64_t kBootSectors = 204800; // -e 100m
constexpr std::uint64_t kDataStart = kBootStart + kBootSectors;

class FbinstImage : public ::testing::Test {
  protected:
    void SetUp() override {
        image_ = scratch_.Path() + "/stick.img";
        MakeSparseImage(image_, kImageBytes);
        setenv("VORNEL_DRIVES", ("G=" + image_).c_str(), 1);
    }

    void ExpectFormatted(const std::vector<std::string>& formatArgs) {
        const ToolResult format = RunFbinstExe(formatArgs);
        ASSERT_EQ(format.exitCode, 0) << format.err;
    }

    void ExpectCleanFat(std::uint64_t start, std::uint64_t sectors) {
        const ToolResult fsck = FsckFat(image_, start, sectors);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
    }

    std::string Source(const std::string& name, const std::string& bytes) {
        const std::string path = scratch_.Path() + "/" + name;
        WriteWholeFile(path, bytes);
        return path;
    }

    ScratchFolder scratch_;
    std::string image_;
};

std::string Pattern(std::size_t bytes, unsigned seed) {
    std::string text(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        text[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return text;
}

TEST_F(FbinstImage, UsbHddFormatGivesDataFirstAndAHiddenActiveBootArea) {
    ExpectFormatted({"G:", "format", "-f", "-a", "-p", "8m", "-e", "100m"});
    const auto table = SfdiskDump(image_);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].slot, 1);
    EXPECT_EQ(table[0].start, kDataStart);
    EXPECT_EQ(table[0].size, kImageSectors - kDataStart);
    EXPECT_EQ(table[0].type, "c");
    EXPECT_FALSE(table[0].bootable);
    EXPECT_EQ(table[1].slot, 2);
    EXPECT_EQ(table[1].start, kBootStart);
    EXPECT_EQ(table[1].size, kBootSectors);
    EXPECT_EQ(table[1].type, "1e");
    EXPECT_TRUE(table[1].bootable);
    ExpectCleanFat(kBootStart, kBootSectors);
    ExpectCleanFat(kDataStart, kImageSectors - kDataStart);
    EXPECT_EQ(std::filesystem::file_size(image_), kImageBytes);

    // The data partition is an ordinary FAT32 anyone can use.
    const std::string dataArea = image_ + "@@" + std::to_string(kDataStart * 512);
    EXPECT_EQ(RunProgram({"mcopy", "-i", dataArea, Source("notes.txt", "mine"), "::/notes.txt"}).exitCode, 0);
    EXPECT_EQ(Mtype(image_, kDataStart, "notes.txt").out, "mine");
    const std::string info = RunProgram({"minfo", "-i", dataArea, "::"}).out;
    EXPECT_NE(info.find("disk type=\"FAT32   \""), std::string::npos);
    EXPECT_NE(info.find("hidden sectors: " + std::to_string(kDataStart) + "\n"), std::string::npos);
}

TEST_F(FbinstImage, TheBootLoaderIsInstalledWhenTheToolCarriesIt) {
    ExpectFormatted({"G:", "format", "-f", "-a", "-p", "8m", "-e", "100m"});
    const auto code = loader::MbrBootCode();
    const auto core = loader::CoreImage();
    EXPECT_EQ(ReadBytes(image_, 0, code.size()), std::string(code.begin(), code.end()));
    EXPECT_EQ(ReadBytes(image_, 512, core.size()), std::string(core.begin(), core.end()));
    EXPECT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", "timeout 0"}).exitCode, 0);
    const ToolResult config = Mtype(image_, kBootStart, loader::kConfigPath);
    EXPECT_EQ(config.exitCode, 0) << config.err;
    EXPECT_EQ(config.out, loader::TranslateMenus({"timeout 0"}, {}));
}

TEST_F(FbinstImage, UsbZipFormatUsesSlotFourAndZipGeometry) {
    ExpectFormatted({"G:", "format", "-f", "-a", "-z", "-p", "8m", "-e", "100m"});
    const auto table = SfdiskDump(image_);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].slot, 2);
    EXPECT_EQ(table[0].type, "1e");
    EXPECT_TRUE(table[0].bootable);
    EXPECT_EQ(table[1].slot, 4);
    EXPECT_EQ(table[1].start, kDataStart);
    EXPECT_EQ(table[1].type, "c");
    // CHS of the slot 4 entry with 64 heads and 32 sectors per track.
    const std::string entry = ReadBytes(image_, 446 + 3 * 16, 16);
    const auto byte = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(entry[i])); };
    EXPECT_EQ(byte(1), kDataStart / 32 % 64);
    EXPECT_EQ(byte(2) & 63, kDataStart % 32 + 1);
    EXPECT_EQ(byte(3) | (byte(2) >> 6) << 8, kDataStart / 2048);
    EXPECT_EQ(byte(5), 63u); // the last sector ends a cylinder
    EXPECT_EQ(byte(6) & 63, 32u);
    ExpectCleanFat(kBootStart, kBootSectors);
    ExpectCleanFat(kDataStart, kImageSectors - kDataStart);
    EXPECT_NE(RunFbinstExe({"G:", "info"}).out.find("mode: USB-ZIP"), std::string::npos);
}

TEST_F(FbinstImage, MenuLinesAndFilesLandInTheBootAreaWithTheirBytes) {
    ExpectFormatted({"G:", "format", "-f", "-a", "-p", "8m", "-e", "100m"});
    for (const char* line : {"default 0", "timeout 0", "menu F1 grldr grldr"})
        ASSERT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", line}).exitCode, 0) << line;
    EXPECT_EQ(Mtype(image_, kBootStart, "fb.cfg").out, "default 0\r\ntimeout 0\r\nmenu F1 grldr grldr\r\n");

    // A payload line's source keeps the package's backslash; a custom image has an odd size.
    const std::string work = scratch_.Path() + "/VnTemp/";
    std::filesystem::create_directories(work + "boot");
    const std::string floppy = Pattern(1474560, 1);
    WriteWholeFile(work + "boot/x.img", floppy);
    const ToolResult payload = RunFbinstExe({"G:", "add", "boot/x.img", work + "boot\\x.img"});
    ASSERT_EQ(payload.exitCode, 0) << payload.err;
    const std::string iso = Pattern(3 * 1048576 + 77, 2);
    ASSERT_EQ(RunFbinstExe({"G:", "add", "boot/customISO_0.iso", Source("PE.ISO", iso)}).exitCode, 0);
    const std::string nested = Pattern(5000, 3);
    ASSERT_EQ(RunFbinstExe({"G:", "add", "a/b/c/deep.bin", Source("deep.bin", nested)}).exitCode, 0);
    // Adding again replaces the file.
    ASSERT_EQ(RunFbinstExe({"G:", "add", "a/b/c/deep.bin", Source("small.bin", "new")}).exitCode, 0);

    EXPECT_EQ(Mtype(image_, kBootStart, "boot/x.img").out, floppy);
    EXPECT_EQ(Mtype(image_, kBootStart, "boot/customISO_0.iso").out, iso);
    EXPECT_EQ(Mtype(image_, kBootStart, "a/b/c/deep.bin").out, "new");
    EXPECT_EQ(RunFbinstExe({"G:", "cat", "boot/customISO_0.iso"}).out, iso);
    const std::string listing =
        RunProgram({"mdir", "-/", "-b", "-i", image_ + "@@" + std::to_string(kBootStart * 512), "::"}).out;
    EXPECT_NE(listing.find("::/boot/customISO_0.iso"), std::string::npos);
    const std::string ls = RunFbinstExe({"G:", "ls"}).out;
    for (const char* name : {"fb.cfg\n", "boot/x.img\n", "boot/customISO_0.iso\n", "a/b/c/deep.bin\n"})
        EXPECT_NE(ls.find(name), std::string::npos) << name;
    ExpectCleanFat(kBootStart, kBootSectors);
    EXPECT_EQ(std::filesystem::file_size(image_), kImageBytes);
}

// A stand-in config shows whether a command wrote the loader's config again: only a change of
// what the menus show does.
TEST_F(FbinstImage, TheLoadersConfigIsWrittenOnlyWhenWhatTheMenusShowChanges) {
    ExpectFormatted({"G:", "format", "-f", "-a", "-p", "8m", "-e", "100m"});
    const std::string config = loader::kConfigPath;
    const std::string standIn = Source("stand-in.cfg", "stand-in");
    const std::string menuLst = Source("menu.lst", "title A\r\nreboot\r\n");
    const auto configText = [&] { return RunFbinstExe({"G:", "cat", config}).out; };
    ASSERT_EQ(RunFbinstExe({"G:", "add", config, standIn}).exitCode, 0);
    // Without these lines, item 0 boots at once all the same.
    for (const char* unseen : {"default 0", "timeout 0"})
        ASSERT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", unseen}).exitCode, 0) << unseen;
    EXPECT_EQ(configText(), "stand-in");

    ASSERT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", "menu F1 grldr grldr"}).exitCode, 0);
    const std::vector<std::string> fbCfg{"default 0", "timeout 0", "menu F1 grldr grldr"};
    EXPECT_EQ(configText(), loader::TranslateMenus(fbCfg, {}));
    ASSERT_EQ(RunFbinstExe({"G:", "add", "menu.lst", menuLst}).exitCode, 0);
    EXPECT_EQ(configText(), loader::TranslateMenus(fbCfg, {"title A", "reboot"}));

    // The same menu.lst again changes nothing shown; a config that is missing is written.
    ASSERT_EQ(RunFbinstExe({"G:", "add", config, standIn}).exitCode, 0);
    ASSERT_EQ(RunFbinstExe({"G:", "add", "MENU.LST", menuLst}).exitCode, 0);
    EXPECT_EQ(configText(), "stand-in");
    ASSERT_EQ(
        RunProgram({"mdel", "-i", image_ + "@@" + std::to_string(kBootStart * 512), "::/" + config}).exitCode,
        0);
    ASSERT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", "default 0"}).exitCode, 0);
    EXPECT_EQ(configText(),
              loader::TranslateMenus({"default 0", "timeout 0", "menu F1 grldr grldr", "default 0"},
                                     {"title A", "reboot"}));
}

// The lines exactly as the make and restore operations send them, split as the runner splits them.
TEST_F(FbinstImage, TheMakeAndRestoreLinesAsTheProgramSendsThem) {
    const std::string work = scratch_.Path() + "/VnTemp/";
    std::filesystem::create_directories(work + "boot");
    WriteWholeFile(work + "boot/x.img", Pattern(4096, 5));
    const std::string iso = Source("PE.ISO", Pattern(70000, 6));
    const std::string prefix = disktool::ToolPrefix(work, 'G');
    std::vector<std::string> lines{disktool::FormatLine(prefix, false, 100)};
    for (const std::string& line : disktool::StartMenuLines(prefix))
        lines.push_back(line);
    lines.push_back(disktool::AddLine(prefix, "boot/x.img", work + "boot\\x.img"));
    lines.push_back(disktool::AddLine(prefix, "boot/customISO_0.iso", iso));
    for (const std::string& line : lines) {
        std::vector<std::string> args = platform::SplitCommandLine(line);
        args.erase(args.begin());
        const ToolResult run = RunFbinstExe(args);
        ASSERT_EQ(run.exitCode, 0) << line << "\n" << run.err;
    }
    EXPECT_EQ(Mtype(image_, kBootStart, "fb.cfg").out, "default 0\r\ntimeout 0\r\nmenu F1 grldr grldr\r\n");
    EXPECT_EQ(Mtype(image_, kBootStart, "boot/x.img").out, Pattern(4096, 5));
    EXPECT_EQ(Mtype(image_, kBootStart, "boot/customISO_0.iso").out, Pattern(70000, 6));

    std::vector<std::string> restore = platform::SplitCommandLine(disktool::RestoreLine(prefix));
    restore.erase(restore.begin());
    ASSERT_EQ(RunFbinstExe(restore).exitCode, 0);
    EXPECT_EQ(SfdiskDump(image_).size(), 1u);
}

TEST_F(FbinstImage, RestoreLeavesOneCleanFat32OverTheWholeDrive) {
    ExpectFormatted({"G:", "format", "-f", "-a", "-z", "-p", "8m", "-e", "100m"});
    ASSERT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", "default 0"}).exitCode, 0);
    const ToolResult restore = RunFbinstExe({"G:", "format", "-f", "-r"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    const auto table = SfdiskDump(image_);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].slot, 1);
    EXPECT_EQ(table[0].start, 2048u);
    EXPECT_EQ(table[0].size, kImageSectors - 2048);
    EXPECT_EQ(table[0].type, "c");
    EXPECT_FALSE(table[0].bootable);
    ExpectCleanFat(2048, kImageSectors - 2048);
    EXPECT_EQ(ReadBytes(image_, 0, 440), std::string(440, '\0'));
    EXPECT_EQ(ReadBytes(image_, 512, 2047 * 512), std::string(2047 * 512, '\0'));
    const ToolResult ls = RunFbinstExe({"G:", "ls"});
    EXPECT_NE(ls.exitCode, 0);
    EXPECT_NE(ls.err.find("no boot area"), std::string::npos) << ls.err;
}

TEST_F(FbinstImage, BadInputsFailClearlyAndLeaveTheImageAlone) {
    MakeSparseImage(image_, 64 << 20);
    ExpectFormatted({"G:", "format", "-f", "-a", "-p", "8m", "-e", "16m"});
    ASSERT_EQ(RunFbinstExe({"G:", "add-menu", "-s", "fb.cfg", "default 0"}).exitCode, 0);
    const std::uint64_t before = Fingerprint(image_);
    const std::vector<std::vector<std::string>> refused{
        {"G:", "explode"},
        {"G:", "format", "-a", "-p", "8m", "-e", "100m"},
        {"G:", "format", "-f", "-a", "-p", "8x", "-e", "100m"},
        {"H:", "format", "-f", "-r"},
        {"G:", "add", "boot/y.img", scratch_.Path() + "/no\\such.img"},
        {"G:", "format", "-f", "-a", "-p", "8m", "-e", "710m"},
        {"G:", "add", "../escape", Source("e.txt", "x")},
        {"G:", "cat", "no/such/file"},
        {"G:", "add-menu", "-s", "fb.cfg", "timeout 0\r\ndefault 1"},
        // More than the loader's config could take.
        {"G:", "add-menu", "-s", "fb.cfg", "menu F2 grldr " + std::string(1100, 'a')},
    };
    for (const auto& args : refused) {
        const ToolResult run = RunFbinstExe(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_NE(run.exitCode, 0) << line;
        EXPECT_EQ(run.err.rfind("fbinst: ", 0), 0u) << line << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << line;
        EXPECT_EQ(Fingerprint(image_), before) << line;
    }
}

TEST_F(FbinstImage, AddBeforeFormatIsRefused) {
    WriteWholeFile(image_, std::string(4096, '\x5a')); // a stick with something else on it
    std::filesystem::resize_file(image_, 64 << 20);
    const std::uint64_t before = Fingerprint(image_);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"G:", "add", "x.img", Source("x.img", "x")}, {"G:", "add-menu", "-s", "fb.cfg", "default 0"}}) {
        const ToolResult run = RunFbinstExe(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_NE(run.err.find("no boot area"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Fingerprint(image_), before);
}

} // namespace
} // namespace vornel::fbinst::testing
