// The contract between the window and the disk tool: every line the operations send, byte for
// byte, and what the tool reads from it once it is split by the Windows rules.

#include "disktool/CommandLines.h"
#include "platform/CommandLine.h"

#include <gtest/gtest.h>

namespace vornel::disktool {
namespace {

// What the tool is started with: the line split as the window splits it, without the program.
Command Read(const std::string& line) {
    std::vector<std::string> words = platform::SplitCommandLine(line);
    EXPECT_EQ(words.at(0), "/tmp/vornel-0/VnTemp/fbinst.exe");
    words.erase(words.begin());
    return ParseCommand(words);
}

const std::string kPrefix = ToolPrefix("/tmp/vornel-0/VnTemp/", 'G');

TEST(CommandLines, FormatAndRestoreLines) {
    EXPECT_EQ(kPrefix, "/tmp/vornel-0/VnTemp/fbinst.exe G: ");
    const std::string hddLine = FormatLine(kPrefix, false, 710);
    EXPECT_EQ(hddLine, kPrefix + " format -f -a  -p 8m -e 710m");
    const Command hdd = Read(hddLine);
    EXPECT_EQ(hdd.letter, 'G');
    EXPECT_EQ(hdd.verb, Verb::Format);
    EXPECT_TRUE(hdd.force && hdd.align && !hdd.zipMode && !hdd.restore);
    EXPECT_EQ(hdd.primaryBytes, 8u << 20);
    EXPECT_EQ(hdd.bootAreaBytes, 710ull << 20);

    const std::string zipLine = FormatLine(kPrefix, true, 10);
    EXPECT_EQ(zipLine, kPrefix + " format -f -a  -z -p 8m -e 10m");
    EXPECT_TRUE(Read(zipLine).zipMode);

    // Image partitions, only when there are images too large for the boot area.
    const std::string imagesLine = FormatLine(kPrefix, true, 10, {4097, 5000});
    EXPECT_EQ(imagesLine, zipLine + " -i 4097m -i 5000m");
    EXPECT_EQ(Read(imagesLine).imagePartitionBytes,
              (std::vector<std::uint64_t>{4097ull << 20, 5000ull << 20}));
    EXPECT_TRUE(hdd.imagePartitionBytes.empty());

    EXPECT_EQ(RestoreLine(kPrefix), kPrefix + "format -f -r");
    const Command restore = Read(RestoreLine(kPrefix));
    EXPECT_TRUE(restore.restore && restore.force);
}

TEST(CommandLines, StartMenuLinesAndTheirOddQuote) {
    const std::vector<std::string> lines = StartMenuLines(kPrefix);
    EXPECT_EQ(lines,
              (std::vector<std::string>{kPrefix + "add-menu -s \"fb.cfg\" \"default 0\"",
                                        kPrefix + "add-menu -s \"fb.cfg\" \"timeout 0\"",
                                        kPrefix + "add-menu -s \"fb.cfg\" \"menu F1 grldr \"grldr\""}));
    const std::vector<std::string> read{"default 0", "timeout 0", "menu F1 grldr grldr"};
    for (size_t i = 0; i < lines.size(); ++i) {
        const Command command = Read(lines[i]);
        EXPECT_EQ(command.verb, Verb::AddMenu);
        EXPECT_EQ(command.operands, (std::vector<std::string>{"fb.cfg", read[i]}));
    }
}

TEST(CommandLines, AddLinesKeepBlanksAndTheSourcesBackslashes) {
    const std::string payload = AddLine(kPrefix, "boot/x.img", "/tmp/vornel-0/VnTemp/boot\\x.img");
    EXPECT_EQ(payload, kPrefix + "add \"boot/x.img\" \"/tmp/vornel-0/VnTemp/boot\\x.img\"");
    EXPECT_EQ(Read(payload).operands,
              (std::vector<std::string>{"boot/x.img", "/tmp/vornel-0/VnTemp/boot\\x.img"}));
    const Command blank = Read(AddLine(kPrefix, "boot/customISO_1.img", "/home/u/my disks/a.img"));
    EXPECT_EQ(blank.verb, Verb::Add);
    EXPECT_EQ(blank.operands, (std::vector<std::string>{"boot/customISO_1.img", "/home/u/my disks/a.img"}));
    const std::string image = AddImageLine(kPrefix, 3, "/home/u/my disks/big.iso");
    EXPECT_EQ(image, kPrefix + "add-image 3 \"/home/u/my disks/big.iso\"");
    const Command raw = Read(image);
    EXPECT_EQ(raw.verb, Verb::AddImage);
    EXPECT_EQ(raw.slot, 3);
    EXPECT_EQ(raw.operands, (std::vector<std::string>{"/home/u/my disks/big.iso"}));
}

TEST(CommandLines, Sizes) {
    EXPECT_EQ(ParseSize("8m"), 8u << 20);
    EXPECT_EQ(ParseSize("710M"), 710ull << 20);
    EXPECT_EQ(ParseSize("64k"), 64u << 10);
    EXPECT_EQ(ParseSize("2g"), 2ull << 30);
    EXPECT_EQ(ParseSize("16"), 16u * 512);
    for (const char* bad :
         {"", "m", "0m", "8mb", "-8m", "8 m", "8x", "99999999999999999999m", "17179869184g"})
        EXPECT_THROW(ParseSize(bad), UsageError) << bad;
}

TEST(CommandLines, RefusalsAndOperandsAfterDoubleDash) {
    const auto refused = [](const std::string& words) {
        EXPECT_THROW(Read("/tmp/vornel-0/VnTemp/fbinst.exe " + words), UsageError) << words;
    };
    refused("G: explode");
    refused("G: format -a -p 8m -e 710m"); // no -f
    refused("G: format -r");               // no -f
    refused("G: format -f -a -p 8m");      // no -e
    refused("G: format -f -a -p 8q -e 710m");
    refused("G: format -f -a -p 8m -e");
    refused("G: format -f -r -z");
    refused("G: format -f -x -p 8m -e 710m");
    refused("G: format -f -r -i 5g");
    refused("G: format -f -a -p 8m -e 710m -i 5g -i 5g -i 5g"); // two free slots
    refused("G: format -f -a -p 8m -e 710m -i");
    for (const char* slot : {"0", "5", "x", "33", ""})
        refused(std::string("G: add-image \"") + slot + "\" a.iso");
    refused("G: add-image 3");
    refused("G: add \"a\"");
    refused("G: add \"a\" \"b\" \"c\"");
    refused("G: add-menu -s \"fb.cfg\"");
    refused("G: cat");
    refused("G: ls extra");
    refused("GG: info");
    refused("1: info");
    refused("G info");
    refused("G:");
    refused("");
    EXPECT_EQ(ParseCommand({"g:", "add-menu", "-s", "--", "fb.cfg", "-x"}).operands,
              (std::vector<std::string>{"fb.cfg", "-x"}));
}

} // namespace
} // namespace vornel::disktool
