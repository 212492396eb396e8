#include "platform/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using vornel::platform::SplitCommandLine;
using Words = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateAndRunsOfBlanksCountOnce) {
    EXPECT_EQ(SplitCommandLine("tool G:  format -f -a  -p 8m"),
              (Words{"tool", "G:", "format", "-f", "-a", "-p", "8m"}));
    EXPECT_EQ(SplitCommandLine("\t tool\targ \t"), (Words{"tool", "arg"}));
    EXPECT_TRUE(SplitCommandLine("").empty());
    EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(SplitCommandLine, QuotesGroupAndAreDropped) {
    EXPECT_EQ(SplitCommandLine(R"(t add "dir/name.ext" "C:\TEMP\Vn Temp\dir\name.ext")"),
              (Words{"t", "add", "dir/name.ext", R"(C:\TEMP\Vn Temp\dir\name.ext)"}));
    EXPECT_EQ(SplitCommandLine(R"(t a"b c"d)"), (Words{"t", "ab cd"}));
    EXPECT_EQ(SplitCommandLine(R"(t "" x)"), (Words{"t", "", "x"}));
    EXPECT_EQ(SplitCommandLine(R"(t "open to the end)"), (Words{"t", "open to the end"}));
}

TEST(SplitCommandLine, TheFixedMenuCommandsOfTheDiskTool) {
    EXPECT_EQ(SplitCommandLine(R"(t G: add-menu -s "fb.cfg" "default 0")"),
              (Words{"t", "G:", "add-menu", "-s", "fb.cfg", "default 0"}));
    // The odd one: an unbalanced quote before "menu" turns the rest into one word.
    EXPECT_EQ(SplitCommandLine(R"(t G: add-menu -s "fb.cfg" "menu F1 grldr "grldr")"),
              (Words{"t", "G:", "add-menu", "-s", "fb.cfg", "menu F1 grldr grldr"}));
}

TEST(SplitCommandLine, BackslashesBeforeAQuote) {
    // 2n backslashes + quote: n backslashes, and the quote toggles quoting.
    EXPECT_EQ(SplitCommandLine(R"(t "C:\dir\\" next)"), (Words{"t", R"(C:\dir\)", "next"}));
    EXPECT_EQ(SplitCommandLine(R"(t a\\\\"b c")"), (Words{"t", R"(a\\b c)"}));
    // 2n+1 backslashes + quote: n backslashes and a literal quote.
    EXPECT_EQ(SplitCommandLine(R"(t a\"b)"), (Words{"t", R"(a"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(t a\\\"b c)"), (Words{"t", R"(a\"b)", "c"}));
    // Backslashes elsewhere are literal, also at the end of the line.
    EXPECT_EQ(SplitCommandLine(R"(t C:\a\\b\ x\\)"), (Words{"t", R"(C:\a\\b\)", R"(x\\)"}));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsALiteralQuote) {
    EXPECT_EQ(SplitCommandLine(R"(t "a""b" c)"), (Words{"t", R"(a"b)", "c"}));
    EXPECT_EQ(SplitCommandLine(R"(t "a"" b")"), (Words{"t", R"(a" b)"}));
    // Outside quotes "" opens and closes an empty group.
    EXPECT_EQ(SplitCommandLine(R"(t a""b)"), (Words{"t", "ab"}));
}

TEST(SplitCommandLine, ProgramNameHasNoEscapes) {
    EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\tool.exe" x)"),
              (Words{R"(C:\Program Files\tool.exe)", "x"}));
    EXPECT_EQ(SplitCommandLine(R"(C:\dir\\"a b"\ x)"), (Words{R"(C:\dir\\a b\)", "x"}));
    EXPECT_EQ(SplitCommandLine(R"(/tmp/vn\"x y)"), (Words{R"(/tmp/vn\x y)"}));
    EXPECT_EQ(SplitCommandLine("/work/VnTemp/fbinst.exe G: format -f -r"),
              (Words{"/work/VnTemp/fbinst.exe", "G:", "format", "-f", "-r"}));
}

TEST(SplitCommandLine, BytesAboveAsciiPassThrough) {
    EXPECT_EQ(SplitCommandLine("t \"/镜像/中文 名.iso\""), (Words{"t", "/镜像/中文 名.iso"}));
}
