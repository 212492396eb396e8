// Reading menu.lst and fb.cfg: each construct of the subset, and what falls outside it.

#include "loader/FbCfg.h"
#include "loader/MenuLst.h"

#include <gtest/gtest.h>

namespace vornel::fbinst::loader {
namespace {

BootAction OnlyEntryAction(const std::vector<std::string>& lines) {
    const MenuLst menu = ParseMenuLst(lines);
    EXPECT_EQ(menu.entries.size(), 1u);
    return menu.entries.empty() ? BootAction{NoCommands{}} : menu.entries[0].action;
}

TEST(MenuLstTest, ReadsEachBootConstructOfTheSubset) {
    const MenuLst menu = ParseMenuLst({
        "title 从硬盘启动",
        "rootnoverify (hd1)",
        "chainloader +1",
        "title ISO",
        "map --mem (ud)/boot/customISO_0.iso (0xFF)",
        "map --hook",
        "chainloader (0xFF)",
        "title Floppy",
        "map --mem (ud)/boot/customISO_1.img (fd0)",
        "map --hook",
        "rootnoverify (fd0)",
        "chainloader +1",
        "title 重启",
        "reboot",
        "title 关机",
        "halt",
    });
    ASSERT_EQ(menu.entries.size(), 5u);
    EXPECT_EQ(menu.entries[0].title, "从硬盘启动");
    EXPECT_EQ(std::get<LocalDisk>(menu.entries[0].action).disk, 1);
    EXPECT_EQ(std::get<IsoInMemory>(menu.entries[1].action).image, "/boot/customISO_0.iso");
    EXPECT_EQ(std::get<FloppyInMemory>(menu.entries[2].action).image, "/boot/customISO_1.img");
    EXPECT_TRUE(std::holds_alternative<Reboot>(menu.entries[3].action));
    EXPECT_TRUE(std::holds_alternative<Halt>(menu.entries[4].action));
}

TEST(MenuLstTest, ToleratesCaseBlanksIndentationAndAFinalBoot) {
    const BootAction action = OnlyEntryAction({
        "  TITLE   PE  ",
        "\tMAP   --MEM (UD)/Boot/PE.ISO\t(0xff)",
        "  map --hook",
        "  ChainLoader (0XFF)",
        "  boot",
    });
    EXPECT_EQ(std::get<IsoInMemory>(action).image, "/Boot/PE.ISO");
    EXPECT_TRUE(std::holds_alternative<Reboot>(OnlyEntryAction({"title r\r", "reboot\r"})));
    EXPECT_EQ(std::get<IsoInMemory>(OnlyEntryAction({"title x", "map --mem (ud)/a\\ b.iso (0xff)",
                                                     "map --hook", "chainloader (0xff)"}))
                  .image,
              "/a b.iso");
}

TEST(MenuLstTest, EntriesOutsideTheSubsetKeepTheirPlaceAndTheirCommands) {
    const MenuLst menu = ParseMenuLst({
        "title empty",
        "title extra command",
        "find --set-root /x.iso",
        "map --mem (ud)/x.iso (0xff)",
        "map --hook",
        "chainloader (0xff)",
        "title wrong drive",
        "map --mem (ud)/x.img (fd1)",
        "map --hook",
        "rootnoverify (fd0)",
        "chainloader +1",
        "title not on the boot area",
        "map --mem (hd0,0)/x.iso (0xff)",
        "map --hook",
        "chainloader (0xff)",
        "title bad disk",
        "rootnoverify (hdx)",
        "chainloader +1",
        "title missing hook",
        "map --mem (ud)/x.iso (0xff)",
        "chainloader (0xff)",
        "title halt with options",
        "halt --no-apm",
        "title last",
        "reboot",
    });
    ASSERT_EQ(menu.entries.size(), 8u);
    EXPECT_TRUE(std::holds_alternative<NoCommands>(menu.entries[0].action));
    for (std::size_t i = 1; i < 7; ++i) {
        EXPECT_TRUE(std::holds_alternative<UnsupportedCommands>(menu.entries[i].action))
            << menu.entries[i].title;
    }
    EXPECT_EQ(std::get<UnsupportedCommands>(menu.entries[1].action).lines,
              (std::vector<std::string>{"find --set-root /x.iso", "map --mem (ud)/x.iso (0xff)", "map --hook",
                                        "chainloader (0xff)"}));
    EXPECT_TRUE(std::holds_alternative<Reboot>(menu.entries[7].action));
}

// grub4dos's kernel and initrd lines: a file of the boot area, its arguments as words, an
// optional initrd; anything else around them falls outside the subset.
TEST(MenuLstTest, ReadsAKernelWithItsArgumentsAndItsInitrd) {
    const Kernel rescue = std::get<Kernel>(OnlyEntryAction(
        {"title r", "KERNEL (ud)/v/vmlinuz quiet a\\ b console=ttyS0,115200", "initrd (UD)/v/initrd.img"}));
    EXPECT_EQ(rescue.file, "/v/vmlinuz");
    EXPECT_EQ(rescue.arguments, (std::vector<std::string>{"quiet", "a b", "console=ttyS0,115200"}));
    EXPECT_EQ(rescue.initrd, "/v/initrd.img");
    const Kernel alone = std::get<Kernel>(OnlyEntryAction({"title m", "kernel (ud)/m.bin", "boot"}));
    EXPECT_TRUE(alone.arguments.empty());
    EXPECT_FALSE(alone.initrd);
    for (const std::vector<std::string>& commands : {std::vector<std::string>{"kernel"},
                                                     {"kernel /vmlinuz"},
                                                     {"initrd (ud)/i"},
                                                     {"kernel (ud)/k", "initrd /i"},
                                                     {"kernel (ud)/k", "initrd (ud)/i", "initrd (ud)/j"},
                                                     {"kernel (ud)/k", "initrd (ud)/i x"}}) {
        std::vector<std::string> lines = {"title x"};
        lines.insert(lines.end(), commands.begin(), commands.end());
        EXPECT_TRUE(std::holds_alternative<UnsupportedCommands>(OnlyEntryAction(lines))) << commands[0];
    }
}

TEST(MenuLstTest, ReadsTimeoutAndDefaultOnlyBeforeTheFirstTitle) {
    const MenuLst menu = ParseMenuLst({
        "# comment",
        "timeout 30",
        "default=2",
        "color white/blue",
        "title a",
        "timeout 5",
    });
    EXPECT_EQ(menu.timeoutSeconds, 30);
    EXPECT_EQ(menu.defaultEntry, 2);
    ASSERT_EQ(menu.entries.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<UnsupportedCommands>(menu.entries[0].action));

    const MenuLst bad = ParseMenuLst({"timeout -1", "default saved", "timeout 999999", "title t"});
    EXPECT_FALSE(bad.timeoutSeconds);
    EXPECT_FALSE(bad.defaultEntry);
}

TEST(MenuLstTest, KeepsTitlesAsWrittenIncludingEmptyOnes) {
    const MenuLst menu = ParseMenuLst({"title ", "reboot", "title  a 'b' $c ", "halt"});
    ASSERT_EQ(menu.entries.size(), 2u);
    EXPECT_EQ(menu.entries[0].title, "");
    EXPECT_EQ(menu.entries[1].title, "a 'b' $c");
}

TEST(FbCfgTest, ReadsTheLinesTheMakeOperationAdds) {
    // "menu F1 grldr "grldr" arrives, after the command-line split, without its quotes.
    const FbCfg cfg = ParseFbCfg({"default 0", "timeout 0", "menu F1 grldr grldr"});
    EXPECT_EQ(cfg.defaultItem, 0);
    EXPECT_EQ(cfg.timeoutSeconds, 0);
    ASSERT_EQ(cfg.items.size(), 1u);
    EXPECT_EQ(cfg.items[0].key, "F1");
    EXPECT_EQ(cfg.items[0].file, "grldr");
    EXPECT_EQ(cfg.items[0].text, "grldr");
}

TEST(FbCfgTest, GroupsQuotedWordsAndSkipsWhatItCannotUse) {
    const FbCfg cfg = ParseFbCfg({
        "menu F2 \"boot/my pe.img\" \"我的 PE\" 工具",
        "menu F3 boot/x.bin",
        "menu F4",
        "timeout soon",
        "something else",
    });
    ASSERT_EQ(cfg.items.size(), 2u);
    EXPECT_EQ(cfg.items[0].file, "boot/my pe.img");
    EXPECT_EQ(cfg.items[0].text, "我的 PE 工具");
    EXPECT_EQ(cfg.items[1].text, "boot/x.bin");
    EXPECT_FALSE(cfg.timeoutSeconds);
}

TEST(FbCfgTest, RecognisesGrldrByItsFileName) {
    EXPECT_TRUE(IsGrldr("grldr"));
    EXPECT_TRUE(IsGrldr("GRLDR"));
    EXPECT_TRUE(IsGrldr("/boot/grldr"));
    EXPECT_TRUE(IsGrldr("boot\\GrLdr"));
    EXPECT_FALSE(IsGrldr("grldr.mbr"));
    EXPECT_FALSE(IsGrldr("mygrldr"));
}

} // namespace
} // namespace vornel::fbinst::loader
