// The command line: the exact lines the make and restore operations send, sizes, and refusals.

#include "Arguments.h"
#include "Failure.h"
#include "platform/CommandLine.h"

#include <gtest/gtest.h>

namespace vornel::fbinst {
namespace {

std::vector<std::string> ArgsOf(const std::string& line) {
    std::vector<std::string> words = platform::SplitCommandLine(line);
    words.erase(words.begin()); // the program
    return words;
}

const std::string kTool = "/tmp/vornel-0/VnTemp/fbinst.exe";

TEST(FbinstArguments, FormatLinesOfBothModes) {
    const Command hdd = ParseCommand(ArgsOf(kTool + " G:  format -f -a  -p 8m -e 710m"));
    EXPECT_EQ(hdd.letter, 'G');
    EXPECT_EQ(hdd.verb, Verb::Format);
    EXPECT_TRUE(hdd.force && hdd.align && !hdd.zipMode && !hdd.restore);
    EXPECT_EQ(hdd.primaryBytes, 8u << 20);
    EXPECT_EQ(hdd.bootAreaBytes, 710ull << 20);

    const Command zip = ParseCommand(ArgsOf(kTool + " G:  format -f -a  -z -p 8m -e 710m"));
    EXPECT_TRUE(zip.zipMode && zip.align);

    const Command restore = ParseCommand(ArgsOf(kTool + " G: format -f -r"));
    EXPECT_TRUE(restore.restore && restore.force);
}

TEST(FbinstArguments, MenuLinesKeepTheirWordsTogether) {
    const Command defaultLine = ParseCommand(ArgsOf(kTool + " G: add-menu -s \"fb.cfg\" \"default 0\""));
    EXPECT_EQ(defaultLine.verb, Verb::AddMenu);
    EXPECT_EQ(defaultLine.operands, (std::vector<std::string>{"fb.cfg", "default 0"}));
    // Five quotes: the last pair around grldr toggles quoting twice and drops out.
    const Command menuLine =
        ParseCommand(ArgsOf(kTool + " G: add-menu -s \"fb.cfg\" \"menu F1 grldr \"grldr\""));
    EXPECT_EQ(menuLine.operands, (std::vector<std::string>{"fb.cfg", "menu F1 grldr grldr"}));
}

TEST(FbinstArguments, PayloadLinesKeepBackslashesOfTheSource) {
    const Command payload =
        ParseCommand(ArgsOf(kTool + " G: add \"boot/x.img\" \"/tmp/vornel-0/VnTemp/boot\\x.img\""));
    EXPECT_EQ(payload.verb, Verb::Add);
    EXPECT_EQ(payload.operands, (std::vector<std::string>{"boot/x.img", "/tmp/vornel-0/VnTemp/boot\\x.img"}));
    const Command custom =
        ParseCommand(ArgsOf(kTool + " G: add \"boot/customISO_0.iso\" \"/home/u/PE.ISO\""));
    EXPECT_EQ(custom.operands, (std::vector<std::string>{"boot/customISO_0.iso", "/home/u/PE.ISO"}));
    // A folder with a blank in the image path stays one argument.
    const Command blank =
        ParseCommand(ArgsOf(kTool + " g: add \"boot/customISO_1.img\" \"/home/u/my disks/a.img\""));
    EXPECT_EQ(blank.letter, 'G');
    EXPECT_EQ(blank.operands[1], "/home/u/my disks/a.img");
}

TEST(FbinstArguments, Sizes) {
    EXPECT_EQ(ParseSize("8m"), 8u << 20);
    EXPECT_EQ(ParseSize("710M"), 710ull << 20);
    EXPECT_EQ(ParseSize("64k"), 64u << 10);
    EXPECT_EQ(ParseSize("2g"), 2ull << 30);
    EXPECT_EQ(ParseSize("16"), 16u * 512);
    for (const char* bad :
         {"", "m", "0m", "8mb", "-8m", "8 m", "8x", "99999999999999999999m", "17179869184g"})
        EXPECT_THROW(ParseSize(bad), UsageError) << bad;
}

TEST(FbinstArguments, Refusals) {
    const auto refused = [](const std::string& line) {
        EXPECT_THROW(ParseCommand(ArgsOf(kTool + line)), UsageError) << line;
    };
    refused(" G: explode");
    refused(" G: format -a -p 8m -e 710m"); // no -f
    refused(" G: format -r");               // no -f
    refused(" G: format -f -a -p 8m");      // no -e
    refused(" G: format -f -a -p 8q -e 710m");
    refused(" G: format -f -a -p 8m -e");
    refused(" G: format -f -r -z");
    refused(" G: format -f -x -p 8m -e 710m");
    refused(" G: add \"a\"");
    refused(" G: add \"a\" \"b\" \"c\"");
    refused(" G: add-menu -s \"fb.cfg\"");
    refused(" G: cat");
    refused(" G: ls extra");
    refused(" GG: info");
    refused(" 1: info");
    refused(" G info");
    refused(" G:");
    refused("");
}

TEST(FbinstArguments, OperandsAfterDoubleDashMayStartWithADash) {
    const Command command = ParseCommand({"G:", "add-menu", "-s", "--", "fb.cfg", "-x"});
    EXPECT_EQ(command.operands, (std::vector<std::string>{"fb.cfg", "-x"}));
}

} // namespace
} // namespace vornel::fbinst
