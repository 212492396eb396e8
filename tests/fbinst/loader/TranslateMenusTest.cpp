// The loader's config made from the menus: what GRUB is told to do, that GRUB can parse it, and
// that no title can break out of its quotes.

#include "fbinst/loader/Shell.h"
#include "loader/GrubText.h"
#include "loader/Loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace vornel::fbinst::loader {
namespace {

using test::RunShell;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kMakeFbCfg = {"default 0", "timeout 0", "menu F1 grldr grldr"};

// The config without its indentation, which only helps people read it.
std::string Unindented(const std::string& config) {
    std::string text;
    bool lineStart = true;
    for (char c : config) {
        if (lineStart && c == ' ') {
            continue;
        }
        text += c;
        lineStart = c == '\n';
    }
    return text;
}

// GRUB's own parser, run on the config.
void ExpectGrubParses(const std::string& config) {
    const auto path =
        std::filesystem::temp_directory_path() / ("loader-" + std::to_string(getpid()) + ".cfg");
    std::ofstream(path, std::ios::binary) << config;
    const auto [output, ok] = RunShell("grub-script-check " + path.string() + " 2>&1");
    std::filesystem::remove(path);
    EXPECT_TRUE(ok) << output << "\n" << config;
}

// The package numbers its entries; the custom ones carry on the count. A menu without numbers
// stays as it is (the case above).
TEST(TranslateMenusTest, UnnumberedEntriesCarryOnThePackagesNumbers) {
    const std::string text =
        Unindented(TranslateMenus({}, {"title 【1】从本地硬盘启动", "reboot", "title 我的 PE", "reboot",
                                       "title 【9】关机", "halt", "title 【x】软盘", "halt"}));
    EXPECT_THAT(text, HasSubstr("menuentry '【1】从本地硬盘启动' {"));
    EXPECT_THAT(text, HasSubstr("menuentry '【2】我的 PE' {"));
    EXPECT_THAT(text, HasSubstr("menuentry '【9】关机' {"));
    EXPECT_THAT(text, HasSubstr("menuentry '【10】【x】软盘' {"));
}

TEST(TranslateMenusTest, TheMakeOperationsMenusBecomeTheMenuOnScreen) {
    const std::string config = TranslateMenus(kMakeFbCfg, {
                                                              "timeout 10",
                                                              "default 1",
                                                              "title 从本机硬盘启动",
                                                              "rootnoverify (hd1)",
                                                              "chainloader +1",
                                                              "",
                                                              "title 我的 PE",
                                                              "map --mem (ud)/boot/customISO_0.iso (0xFF)",
                                                              "map --hook",
                                                              "chainloader (0xFF)",
                                                              "",
                                                              "title 软盘",
                                                              "map --mem (ud)/boot/customISO_1.img (fd0)",
                                                              "map --hook",
                                                              "rootnoverify (fd0)",
                                                              "chainloader +1",
                                                          });
    const std::string text = Unindented(config);
    // Time-out 0 on the grldr item: a grldr on the stick is booted at once; without one,
    // menu.lst is the menu itself.
    EXPECT_THAT(
        text,
        HasSubstr("if [ \"$grub_platform\" = pc -a -f '/grldr' ]; then\nset timeout=0\nset default=0\n"));
    EXPECT_THAT(text,
                HasSubstr("menuentry 'grldr' --hotkey=f1 {\nset root=\"$vornel_area\"\nntldr '/grldr'\n}"));
    EXPECT_THAT(text, HasSubstr("else\nset timeout=10\nset default=1\nmenuentry '从本机硬盘启动' {\n"));
    EXPECT_THAT(text, HasSubstr("menuentry '从本机硬盘启动' {\nif [ \"$grub_platform\" = pc ]; then\n"
                                "set vornel_disk_found=\"\"\nfor vornel_device in (hd1*); do\n"));
    // An ISO boots from what it holds when it can, else from memory on BIOS.
    EXPECT_THAT(
        text, HasSubstr("menuentry '我的 PE' {\nif ! vornel_boot_iso_contents '/boot/customISO_0.iso'; then\n"
                        "set root=\"$vornel_area\"\n"
                        "if [ -f '/boot/customISO_0.iso' ]; then\n"
                        "if [ \"$grub_platform\" = pc ]; then\n"
                        "linux16 '/vornel/memdisk' iso raw\n"
                        "initrd16 '/boot/customISO_0.iso'\n"));
    EXPECT_THAT(text, HasSubstr("linux16 '/vornel/memdisk' floppy\ninitrd16 '/boot/customISO_1.img'\n"));
    EXPECT_THAT(text, HasSubstr("set vornel_font='/vornel/unicode.pf2'\nfi\n"));
    EXPECT_THAT(text, HasSubstr("set lang=zh_CN\n"));
    EXPECT_THAT(text, HasSubstr("if loadfont \"$vornel_font\"; then\nset gfxmode=auto\n"
                                "if [ -f '/vornel/theme/theme.txt' ]; then\n"));
    EXPECT_THAT(text, HasSubstr("terminal_output gfxterm $vornel_serial"));
    ExpectGrubParses(config);
}

TEST(TranslateMenusTest, AStartMenuThatWaitsOffersMenuLstAsASubMenu) {
    const std::string config =
        TranslateMenus({"timeout 5", "default 1", "menu F1 grldr \"菜单\"", "menu x boot/other.bin 其他"},
                       {"timeout 3", "title 重启", "reboot"});
    const std::string text = Unindented(config);
    EXPECT_THAT(
        text,
        HasSubstr(
            "fi\nset timeout=5\nset default=1\nif [ \"$grub_platform\" = pc -a -f '/grldr' ]; then\n"
            "menuentry '菜单' --hotkey=f1 {\nset root=\"$vornel_area\"\nntldr '/grldr'\n}\n"
            "else\nsubmenu '菜单' --hotkey=f1 {\nset timeout=3\nmenuentry '重启' {\nreboot\n}\n}\nfi\n"));
    EXPECT_THAT(
        text,
        HasSubstr("menuentry '其他' --hotkey=x {\necho '本启动盘的引导程序不能启动文件：boot/other.bin'"));
    ExpectGrubParses(config);
}

TEST(TranslateMenusTest, OnlyKeysGrubKnowsBecomeHotKeys) {
    const std::string config =
        TranslateMenus({"menu F12 a.bin a", "menu f10 b.bin b", "menu F13 c.bin c", "menu F01 d.bin d",
                        "menu F0 e.bin e", "menu Ctrl f.bin f", "menu 7 g.bin g"},
                       {});
    EXPECT_THAT(config, HasSubstr("menuentry 'a' --hotkey=f12 {"));
    EXPECT_THAT(config, HasSubstr("menuentry 'b' --hotkey=f10 {"));
    for (const char* title : {"c", "d", "e", "f"}) {
        EXPECT_THAT(config, HasSubstr(std::string("menuentry '") + title + "' {"));
    }
    EXPECT_THAT(config, HasSubstr("menuentry 'g' --hotkey=7 {"));
}

TEST(TranslateMenusTest, OnlyTheGrldrItemChosenAtOnceFlattensTheMenu) {
    // menu.lst shown by itself is the else branch of the grldr test, at the top level.
    const auto flattened = HasSubstr("else\nmenuentry 'a' {\nhalt\n}\nfi\n");
    // The default item (out of range counts as the first) decides.
    EXPECT_THAT(
        Unindented(TranslateMenus({"timeout 0", "default 7", "menu F1 grldr grldr"}, {"title a", "halt"})),
        flattened);
    EXPECT_THAT(
        Unindented(TranslateMenus({"timeout 0", "default 1", "menu F1 grldr grldr", "menu F2 x.bin x"},
                                  {"title a", "halt"})),
        Not(flattened));
    EXPECT_THAT(Unindented(TranslateMenus({"menu F1 grldr grldr"}, {"title a", "halt"})), Not(flattened));
    // A grldr elsewhere is looked for where fb.cfg says.
    EXPECT_THAT(TranslateMenus({"timeout 0", "menu F1 boot\\GRLDR g"}, {}), HasSubstr("ntldr '/boot/GRLDR'"));
    // Without a start menu, menu.lst is shown as it is.
    EXPECT_THAT(Unindented(TranslateMenus({}, {"title a", "halt"})),
                HasSubstr("fi\nmenuentry 'a' {\nhalt\n}\n"));
}

TEST(TranslateMenusTest, EntriesThatCannotBootExplainThemselvesAndKeepTheirPlace) {
    const std::string config =
        TranslateMenus(kMakeFbCfg, {"default 2", "title 空的", "title 其他", "kernel /vmlinuz 'x' $y; reboot",
                                    "title c", "halt"});
    const std::string text = Unindented(config);
    EXPECT_THAT(text, HasSubstr("menuentry '空的' {\necho '这个菜单项没有启动命令，无法启动。'\n"
                                "echo '按 Esc 键或等待 10 秒返回菜单。'\nsleep --interruptible 10\n}"));
    EXPECT_THAT(
        text,
        HasSubstr("menuentry '其他' {\necho '这个菜单项用到了本启动盘的引导程序不支持的命令，无法启动：'\n"
                  "echo '  kernel /vmlinuz '\\''x'\\'' $y; reboot'\n"));
    // Three entries in their order, so "default 2" still means "c".
    const auto first = config.find("menuentry '空的'");
    const auto second = config.find("menuentry '其他'");
    const auto third = config.find("menuentry 'c'");
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(third, std::string::npos);
    ExpectGrubParses(config);
}

// On UEFI memdisk cannot run and disks have no BIOS numbers: each entry does what UEFI allows.
TEST(TranslateMenusTest, OnUefiEachEntryTakesTheWayUefiAllows) {
    const std::string config = TranslateMenus(
        kMakeFbCfg, {"title d", "rootnoverify (hd1)", "chainloader +1", "title f",
                     "map --mem (ud)/f.img (fd0)", "map --hook", "rootnoverify (fd0)", "chainloader +1",
                     "title i", "map --mem (ud)/i.iso (0xFF)", "map --hook", "chainloader (0xFF)"});
    const std::string text = Unindented(config);
    EXPECT_THAT(
        text, HasSubstr("echo '无法从磁盘 (hd1) 启动：没有这个磁盘，或它没有引导代码。'\n"
                        "echo '按任意键返回菜单。'\nelse\necho '这台电脑没有磁盘 (hd1)，无法从它启动。'\n"));
    // The PC's own system from its disks; the firmware only when there is none.
    EXPECT_THAT(text, HasSubstr("fi\nelif ! vornel_start_local_system; then\n"
                                "echo '正在交还给电脑的固件，由它从下一个启动项（通常是本机硬盘）启动……'\n"
                                "exit\n"));
    EXPECT_THAT(text, HasSubstr("initrd16 '/f.img'\nelse\necho '此项只能在传统BIOS模式下启动'\n"));
    EXPECT_THAT(text, HasSubstr("initrd16 '/i.iso'\nelse\nvornel_boot_iso_efi_program '/i.iso'\nfi\n"));
    // The program is looked for in any case, in the ISO's files and then in its El Torito image.
    EXPECT_THAT(text, HasSubstr("vornel_find_any_case (vornel_iso) '/[Ee][Ff][Ii]$' '/[Bb][Oo][Oo][Tt]$' "
                                "'/[Bb][Oo][Oo][Tt][Xx]64\\.[Ee][Ff][Ii]$'\n"));
    EXPECT_THAT(text, HasSubstr("vornel_find_efi_image_program '/[Ee][Ff][Ii]\\.[Ii][Mm][Gg]$'\n"
                                "vornel_find_efi_image_program '/[Bb][Oo][Oo][Tt]$' '/[Gg][Rr][Uu][Bb]$' "
                                "'/[Ee][Ff][Ii]\\.[Ii][Mm][Gg]$'\n"));
    ExpectGrubParses(config);
}

// A kernel starts on both platforms with its arguments, each one word, and is told the boot
// area's file-system id; a .bin program starts as its .efi twin on UEFI; a missing file and a
// kernel Secure Boot refuses are explained.
TEST(TranslateMenusTest, AKernelEntryStartsTheKernelOrSaysWhyNot) {
    const std::string config = TranslateMenus(
        kMakeFbCfg, {"title 救援", "kernel (ud)/r/vmlinuz quiet x=';reboot;'", "initrd (ud)/r/initrd.img",
                     "title 内存检测", "kernel (ud)/m/memtest.bin console=ttyS0"});
    const std::string text = Unindented(config);
    EXPECT_THAT(text, HasSubstr("set vornel_kernel='/r/vmlinuz'\nif [ ! -f '/r/vmlinuz' ]; then\n"
                                "echo '找不到文件：/r/vmlinuz'\n"));
    EXPECT_THAT(text, HasSubstr("elif [ ! -f '/r/initrd.img' ]; then\necho '找不到文件：/r/initrd.img'\n"));
    EXPECT_THAT(text, HasSubstr("probe --set=vornel_area_uuid --fs-uuid \"($vornel_area)\"\n"
                                "set gfxpayload=1024x768x32,800x600x32,keep\n"
                                "if linux \"$vornel_kernel\" 'quiet' 'x='\\'';reboot;'\\''' "
                                "\"vornel.area=$vornel_area_uuid\"; then\n"
                                "if initrd '/r/initrd.img'; then\nboot\n"));
    EXPECT_THAT(text, HasSubstr("set vornel_kernel='/m/memtest.bin'\n"
                                "if [ \"$grub_platform\" = efi -a -f '/m/memtest.efi' ]; then\n"
                                "set vornel_kernel='/m/memtest.efi'\nfi\n"));
    EXPECT_THAT(text, HasSubstr("'console=ttyS0' \"vornel.area=$vornel_area_uuid\"; then\nboot\n"));
    EXPECT_THAT(text, HasSubstr("elif [ \"$shim_lock\" = y ]; then\n"
                                "echo '安全启动已开启：固件拒绝了这个程序，因为它没有受信任的签名。'\n"));
    EXPECT_THAT(text, Not(HasSubstr("set vornel_kernel='/r/vmlinuz'\nif [ \"$grub_platform\" = efi")));
    ExpectGrubParses(config);
}

TEST(TranslateMenusTest, EmptyMenusStillGiveAMenuThatSaysSo) {
    for (const std::string& config : {TranslateMenus({}, {}), TranslateMenus(kMakeFbCfg, {}),
                                      TranslateMenus(kMakeFbCfg, {"timeout 3", "# only settings"})}) {
        EXPECT_THAT(config, HasSubstr("menuentry '启动菜单是空的' {"));
        ExpectGrubParses(config);
    }
}

TEST(TranslateMenusTest, HostileTitlesAndFileNamesStayInsideTheirQuotes) {
    const std::string hostile = "a' ; reboot ; echo '$(x) } { \" \\ #";
    const std::string config = TranslateMenus(
        kMakeFbCfg, {"title " + hostile, "halt", "title b", "map --mem (ud)/x';reboot;'.iso (0xff)",
                     "map --hook", "chainloader (0xff)", "title c\r\x1b[2J\x7f", "reboot"});
    EXPECT_THAT(config, HasSubstr("menuentry " + GrubQuote(hostile) + " {"));
    EXPECT_THAT(config, HasSubstr("initrd16 '/x'\\'';reboot;'\\''.iso'"));
    EXPECT_THAT(config, HasSubstr("vornel_boot_iso_efi_program '/x'\\'';reboot;'\\''.iso'\n"));
    EXPECT_THAT(config, HasSubstr("menuentry 'c  [2J ' {"));
    EXPECT_THAT(config, Not(HasSubstr("\r")));
    ExpectGrubParses(config);
}

TEST(TranslateMenusTest, TitlesThatLookLikeOptionsStayTitlesAndLongOnesAreCut) {
    // GRUB's menuentry takes a quoted "--help" or "--class=x" as its option (and the entry
    // vanishes, or "menuentry is missing title"); "--" ends the options, after the hot key.
    const std::string longTitle(100 << 10, 'x');
    const std::string config = TranslateMenus({"menu F2 grldr --unrestricted", "menu F3 grldr " + longTitle},
                                              {"title --help", "halt", "title --class=x", "halt", "title -x",
                                               "halt", "title a-b", "halt", "title " + longTitle, "halt"});
    for (const char* title : {"--help", "--class=x", "-x"})
        EXPECT_THAT(config, HasSubstr(std::string("menuentry -- '") + title + "' {"));
    EXPECT_THAT(config, HasSubstr("menuentry 'a-b' {"));
    EXPECT_THAT(config, HasSubstr("menuentry --hotkey=f2 -- '--unrestricted' {"));
    EXPECT_THAT(config, HasSubstr("submenu --hotkey=f2 -- '--unrestricted' {"));
    // A title of 100 KB would stop GRUB's reader ("token too large") with no menu at all.
    EXPECT_THAT(config, HasSubstr("menuentry '" + std::string(kMenuTextLimit, 'x') + "' {"));
    EXPECT_THAT(config, Not(HasSubstr(std::string(kMenuTextLimit + 1, 'x'))));
    ExpectGrubParses(config);
}

TEST(GrubTextTest, QuotedWordsReadBackExactly) {
    // GRUB's single quotes follow the POSIX shell's rules, so the shell reads them back.
    for (const std::string& text : {std::string("plain"), std::string(""), std::string("it's"),
                                    std::string("''"), std::string("$HOME ${x} `id` \"q\" \\n ; & | > {}")}) {
        const auto [output, ok] = RunShell("printf '%s' " + GrubQuote(text));
        EXPECT_TRUE(ok);
        EXPECT_EQ(output, text);
    }
}

TEST(GrubTextTest, MenuTextBecomesValidUtf8) {
    EXPECT_EQ(MenuText("中文 PE"), "中文 PE");
    EXPECT_EQ(MenuText("\xD6\xD0\xCE\xC4"), "中文"); // a GBK title from an old menu
    EXPECT_EQ(MenuText("a\xFF"), "a\xEF\xBF\xBD");   // neither encoding: a replacement mark
    EXPECT_EQ(MenuText("\xD6\xD0\xFF"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // not all GBK
    EXPECT_EQ(MenuText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // no surrogates
    EXPECT_EQ(MenuText("a\tb\nc"), "a b c");
    // Cut at the limit, before a character that would straddle it.
    EXPECT_EQ(MenuText(std::string(kMenuTextLimit - 1, 'a') + "中"), std::string(kMenuTextLimit - 1, 'a'));
}

} // namespace
} // namespace vornel::fbinst::loader
