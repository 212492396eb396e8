// What the boot area holds and what the tool refuses: names FAT stores exactly or not at all, and
// a boot area whose file system does not fit its partition slot.

#include "ImageChecks.h"
#include "platform/Files.h"

#include <fstream>
#include <gtest/gtest.h>

namespace vornel::fbinst::testing {
namespace {

constexpr std::uint64_t kBootStart = 16384;   // -p 8m, aligned
constexpr std::uint64_t kBootSectors = 32768; // -e 16m

class FbinstNames : public ::testing::Test {
  protected:
    void SetUp() override {
        image_ = scratch_.Path() + "/stick.img";
        MakeSparseImage(image_, 64 << 20);
        setenv("VORNEL_DRIVES", ("G=" + image_).c_str(), 1);
        const ToolResult format = RunFbinstExe({"G:", "format", "-f", "-a", "-p", "8m", "-e", "16m"});
        ASSERT_EQ(format.exitCode, 0) << format.err;
    }
    std::string Source(const std::string& bytes) {
        const std::string path = scratch_.Path() + "/source" + std::to_string(sources_++);
        WriteWholeFile(path, bytes);
        return path;
    }
    void Patch(std::uint64_t offset, const std::string& bytes) {
        std::fstream file(image_, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(offset));
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(file.flush());
    }
    void ExpectRefusedUntouched(const std::vector<std::string>& args, const std::string& reason) {
        const std::uint64_t before = Fingerprint(image_);
        const ToolResult run = RunFbinstExe(args);
        EXPECT_EQ(run.exitCode, 1) << args[2];
        EXPECT_EQ(run.err.rfind("fbinst: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << args[2] << ": " << run.err;
        EXPECT_EQ(Fingerprint(image_), before) << args[2];
    }
    ScratchFolder scratch_;
    std::string image_;
    int sources_ = 0;
};

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

TEST_F(FbinstNames, NamesAreStoredExactlyOrRefused) {
    const std::string longest = Repeat("文", 85); // 255 bytes
    for (const std::string& name : {std::string("文.txt"), std::string("斗.txt"), "boot/" + longest})
        ASSERT_EQ(RunFbinstExe({"G:", "add", name, Source(name)}).exitCode, 0) << name;
    for (const std::string& name : {std::string("文.txt"), std::string("斗.txt"), "boot/" + longest})
        EXPECT_EQ(RunFbinstExe({"G:", "cat", name}).out, name);
    const std::string ls = RunFbinstExe({"G:", "ls"}).out;
    for (const std::string& name :
         {std::string("文.txt\n"), std::string("斗.txt\n"), "boot/" + longest + "\n"})
        EXPECT_NE(ls.find(name), std::string::npos) << ls;

    ASSERT_EQ(RunFbinstExe({"G:", "add", "menu.lst", Source("title a")}).exitCode, 0);
    for (const std::string name :
         {"x:menu.lst", "menu.lst.", "boot/name ", "a*b", "what?", "a<b>", "pipe|", "quote\"", "tab\tname",
          "\xff\xfe.txt", "\xe6\x96.txt", "\xc0\xaf.txt", "\xed\xa0\x80.txt", "😀.txt"})
        ExpectRefusedUntouched({"G:", "add", name, Source("x")}, "cannot hold");
    for (const std::string& name : {Repeat("a", 256), "boot/" + longest + "文"})
        ExpectRefusedUntouched({"G:", "add", name, Source("x")}, "255");
    ExpectRefusedUntouched({"G:", "add", "boot", Source("x")}, "is a folder");
    ExpectRefusedUntouched({"G:", "cat", "boot"}, "is a folder");
    EXPECT_EQ(RunFbinstExe({"G:", "cat", "menu.lst"}).out, "title a");
}

TEST_F(FbinstNames, AnEmptyBootAreaListsNothing) {
    const std::string area = image_ + "@@" + std::to_string(kBootStart * 512);
    for (const std::string& entry : platform::SplitLines(RunProgram({"mdir", "-b", "-i", area, "::/"}).out))
        RunProgram({entry.ends_with("/") ? "mdeltree" : "mdel", "-i", area,
                    entry.substr(0, entry.find_last_not_of('/') + 1)});
    const ToolResult ls = RunFbinstExe({"G:", "ls"});
    EXPECT_EQ(ls.exitCode, 0) << ls.err;
    EXPECT_EQ(ls.out, "");
}

// A damaged or crafted stick: the file system of the boot area reaches past its partition slot.
TEST_F(FbinstNames, ABootAreaWhoseFileSystemDoesNotFitItsSlotIsNeverWritten) {
    const std::string big = Source(std::string(12 << 20, 'b'));
    const std::string table = ReadBytes(image_, 446 + 16, 16);
    const std::string bootSector = ReadBytes(image_, kBootStart * 512, 512);
    Patch(446 + 16 + 12, std::string("\x00\x40\x00\x00", 4)); // the slot shrunk to 8 MiB
    ExpectRefusedUntouched({"G:", "add", "boot/big.iso", big}, "does not fit");
    Patch(446 + 16, table);
    Patch(kBootStart * 512 + 28, std::string("\x00\x10\x00\x00", 4)); // hidden sectors: another start
    ExpectRefusedUntouched({"G:", "add", "boot/big.iso", big}, "does not fit");
    Patch(kBootStart * 512, bootSector);
    EXPECT_EQ(RunFbinstExe({"G:", "add", "boot/big.iso", big}).exitCode, 0);
    EXPECT_EQ(FsckFat(image_, kBootStart, kBootSectors).exitCode, 0);
}

} // namespace
} // namespace vornel::fbinst::testing
