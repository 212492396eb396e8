#include "bootitems/IsoList.h"

#include "FileSizeLimit.h"
#include "builder/TempFolder.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

using namespace vornel::bootitems;
using vornel::test::ReadBytes;
using vornel::test::TempFolder;
using vornel::test::WriteBytes;

namespace {

void ExpectItem(const TISOFileInfo& item, const std::string& title, const std::string& path) {
    EXPECT_EQ(item.Title, title);
    EXPECT_EQ(item.ImagePath, path);
}

} // namespace

TEST(IsoList, LinesSplitAtTheFirstBar) {
    ExpectItem(SplitIsoLine("Tools|D:\\images\\tools.iso"), "Tools", "D:\\images\\tools.iso");
    ExpectItem(SplitIsoLine("a|b|c"), "a", "b|c");
    ExpectItem(SplitIsoLine("|x"), "", "x");
    ExpectItem(SplitIsoLine("x|"), "x", "");
    ExpectItem(SplitIsoLine("D:\\x.iso"), "", "D:\\x.iso");
    ExpectItem(SplitIsoLine(""), "", "");
    ExpectItem(SplitIsoLine("|"), "", "");
}

TEST(IsoList, ReadsEveryLineWithAnyLineEnding) {
    TempFolder folder;
    auto path = folder.path() / "isolist";
    WriteBytes(path, "A|C:\\a.iso\r\n\r\nB|/b.img\nC|/c.iso\rno bar\r\n");
    auto items = ReadIsoList(path.string());
    ASSERT_EQ(items.size(), 5u);
    ExpectItem(items[0], "A", "C:\\a.iso");
    ExpectItem(items[1], "", "");
    ExpectItem(items[2], "B", "/b.img");
    ExpectItem(items[3], "C", "/c.iso");
    ExpectItem(items[4], "", "no bar");
    WriteBytes(path, "");
    EXPECT_TRUE(ReadIsoList(path.string()).empty());
    EXPECT_THROW(ReadIsoList((folder.path() / "missing").string()), vornel::platform::EFOpenError);
}

TEST(IsoList, WritesCrLfAfterEveryLineAndReadsBack) {
    TempFolder folder;
    auto path = (folder.path() / "isolist").string();
    WriteIsoList(path, {{"A", "C:\\a.iso"}, {"", ""}, {"a|b", "C:\\c.iso"}, {"中文", "/镜像/x.img"}});
    EXPECT_EQ(ReadBytes(path), "A|C:\\a.iso\r\n|\r\na|b|C:\\c.iso\r\n中文|/镜像/x.img\r\n");
    auto items = ReadIsoList(path);
    ASSERT_EQ(items.size(), 4u);
    ExpectItem(items[1], "", "");
    // A title typed with "|" comes back cut at it, the rest joining the path.
    ExpectItem(items[2], "a", "b|C:\\c.iso");
    ExpectItem(items[3], "中文", "/镜像/x.img");
    WriteIsoList(path, {});
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(IsoList, AFailedWriteLeavesTheOldFileWhole) {
    TempFolder folder;
    auto path = folder.path() / "isolist";
    EXPECT_EQ(IsoListPath(folder.slashed()), path.string());
    WriteBytes(path, "old|/old.iso\r\n");
    {
        vornel::test::FileSizeLimit fullDisk(8);
        try {
            WriteIsoList(path.string(), {{"a new title", "/a/much/longer/path.iso"}});
            FAIL() << "no error";
        } catch (const vornel::platform::EFCreateError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + path.string() + "\". ", 0),
                      0u);
        }
    }
    EXPECT_EQ(ReadBytes(path), "old|/old.iso\r\n");
    // No half-written temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}
