#include "builder/BootMenu.h"

#include "TempFolder.h"
#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using vornel::bootitems::TISOFileInfo;
using vornel::builder::ImageExtension;
using vornel::builder::WriteBootMenu;
using vornel::test::ReadBytes;
using vornel::test::TempFolder;
using vornel::test::WriteBytes;

namespace {

class BootMenuTest : public ::testing::Test {
  protected:
    std::string Menu() { return ReadBytes(work.path() / "menu.lst"); }
    TempFolder work;
};

} // namespace

TEST_F(BootMenuTest, NoItemsGivesTheHeadWithCrLfAfterEveryLine) {
    // LF, CR and CR LF endings, an empty line inside, a last line without an ending, and bytes
    // that are not UTF-8 (the head's bytes are never converted).
    WriteBytes(work.path() / "defMenu.txt", "timeout 5\ndefault 0\r\rtitle \xc6\xf4\xb6\xaf\r\nboot");
    WriteBootMenu(work.slashed(), {});
    EXPECT_EQ(Menu(), "timeout 5\r\ndefault 0\r\n\r\ntitle \xc6\xf4\xb6\xaf\r\nboot\r\n");
    // A final line break adds no line, and a shorter menu replaces the longer one whole; the
    // folder may come without its trailing "/".
    WriteBytes(work.path() / "defMenu.txt", "a\r\n");
    WriteBootMenu(work.path().string(), {});
    EXPECT_EQ(Menu(), "a\r\n");
}

TEST_F(BootMenuTest, BlocksByKindEveryItemTakingItsNumber) {
    WriteBytes(work.path() / "defMenu.txt", "head\n");
    WriteBootMenu(work.slashed(), {{"Bin", "/images/a.bin"},
                                   {"PE", "D:\\ISO\\PE.ISO"},
                                   {"Floppy", "/images/dos.Img"},
                                   {"", "/images/noext"}});
    EXPECT_EQ(Menu(), "head\r\n"
                      "\r\ntitle Bin\r\n"
                      "\r\ntitle PE\r\n"
                      "map --mem (ud)/boot/customISO_1.iso (0xFF)\r\n"
                      "map --hook\r\n"
                      "chainloader (0xFF)\r\n"
                      "\r\ntitle Floppy\r\n"
                      "map --mem (ud)/boot/customISO_2.img (fd0)\r\n"
                      "map --hook\r\n"
                      "rootnoverify (fd0)\r\n"
                      "chainloader +1\r\n"
                      "\r\ntitle \r\n");
}

TEST_F(BootMenuTest, ChineseTitleIsWrittenInUtf8) {
    WriteBytes(work.path() / "defMenu.txt", "head");
    WriteBootMenu(work.slashed(), {{"维护工具", "/i/t.iso"}});
    EXPECT_EQ(Menu(), "head\r\n\r\ntitle \xe7\xbb\xb4\xe6\x8a\xa4\xe5\xb7\xa5\xe5\x85\xb7\r\n"
                      "map --mem (ud)/boot/customISO_0.iso (0xFF)\r\nmap --hook\r\nchainloader (0xFF)\r\n");
}

TEST_F(BootMenuTest, MissingHeadThrowsOpenErrorAndWritesNothing) {
    try {
        WriteBootMenu(work.slashed(), {{"a", "b.iso"}});
        FAIL() << "no error";
    } catch (const vornel::platform::EFOpenError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"" + work.slashed() + "defMenu.txt\". No such file or directory");
    }
    EXPECT_FALSE(std::filesystem::exists(work.path() / "menu.lst"));
}

TEST_F(BootMenuTest, UnwritableMenuThrowsCreateError) {
    WriteBytes(work.path() / "defMenu.txt", "head");
    // A folder in the way cannot be replaced by the menu file, not even by root.
    std::filesystem::create_directory(work.path() / "menu.lst");
    std::filesystem::create_directory(work.path() / "menu.lst" / "inside");
    try {
        WriteBootMenu(work.slashed(), {});
        FAIL() << "no error";
    } catch (const vornel::platform::EFCreateError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("Cannot create file \"" + work.slashed() + "menu.lst\". ", 0), 0u)
            << error.what();
    }
}

TEST(ImageExtension, LastDotAfterLastSeparatorLowerCasedInAsciiOnly) {
    EXPECT_EQ(ImageExtension("D:\\ISO\\PE.ISO"), ".iso");
    EXPECT_EQ(ImageExtension("/a/b.tar.IMG"), ".img");
    EXPECT_EQ(ImageExtension("/a.d/noext"), "");
    EXPECT_EQ(ImageExtension("C:\\a.d\\noext"), "");
    // Only A-Z change: a UTF-8 extension keeps its bytes.
    EXPECT_EQ(ImageExtension("/a/b.ÄISO"), ".Äiso");
}
