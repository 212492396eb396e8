#include "bootitems/IsoList.h"

#include "FileSizeLimit.h"
#include "builder/TempFolder.h"
#include "platform/Files.h"

#include <array>
#include <gtest/gtest.h>

using namespace vornel::bootitems;
using vornel::test::ReadBytes;
using vornel::test::TempFolder;
using vornel::test::WriteBytes;

// Reading through files, line endings and the dialog's round trips are tested with the dialog;
// these are the rule's own corners and the save that must not lose the old list.
TEST(IsoList, LinesSplitAtTheFirstBar) {
    for (const auto& [line, title, path] :
         std::vector<std::array<std::string, 3>>{{"a|b|c", "a", "b|c"},
                                                 {"|x", "", "x"},
                                                 {"x|", "x", ""},
                                                 {"D:\\x.iso", "", "D:\\x.iso"},
                                                 {"", "", ""},
                                                 {"|", "", ""}}) {
        TISOFileInfo item = SplitIsoLine(line);
        EXPECT_EQ(item.Title, title) << line;
        EXPECT_EQ(item.ImagePath, path) << line;
        if (line.find('|') != std::string::npos) {
            EXPECT_EQ(JoinIsoLine(item), line);
        }
    }
}

TEST(IsoList, AFailedWriteLeavesTheOldFileWhole) {
    TempFolder folder;
    auto path = folder.path() / "isolist";
    EXPECT_EQ(IsoListPath(folder.slashed()), path.string());
    WriteBytes(path, "old|/old.iso\r\n");
    {
        vornel::test::FileSizeLimit fullDisk(8);
        EXPECT_THROW(WriteIsoList(path.string(), {{"a new title", "/a/much/longer/path.iso"}}),
                     vornel::platform::EFCreateError);
    }
    EXPECT_EQ(ReadBytes(path), "old|/old.iso\r\n");
    // No half-written temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(IsoList, GbkLinesReadAsText) {
    TempFolder folder;
    auto path = folder.path() / "isolist";
    WriteBytes(path, "\xCE\xAC\xBB\xA4|D:\\\xBE\xB5\xCF\xF1.iso\r\n维护|/a.iso\r\n");
    const auto items = ReadIsoList(path.string());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Title, "维护");
    EXPECT_EQ(items[0].ImagePath, "D:\\镜像.iso");
    EXPECT_EQ(items[1].Title, "维护");
}
