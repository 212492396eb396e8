// The loader's config (a GRUB 2 script) from the stick's two menus.
//
// fb.cfg is the start menu; its grldr item boots a grldr found in the boot area, else it stands
// for grldr's menu, menu.lst, which this loader then shows itself. When the start menu would
// boot that item at once (time-out 0) and there is no grldr, menu.lst is the menu the user
// sees; otherwise it is a sub-menu of the start menu.
//
// GRUB for PC BIOS and GRUB for UEFI both read this config; "$grub_platform" ("pc" or "efi")
// tells them apart where an entry boots differently on each.

#include "loader/EfiLocalSystem.h"
#include "loader/FbCfg.h"
#include "loader/GrubScript.h"
#include "loader/GrubText.h"
#include "loader/IsoBoot.h"
#include "loader/Loader.h"
#include "loader/MenuLst.h"
#include "loader/MenuWords.h"
#include "platform/Ascii.h"

#include <functional>
#include <optional>
#include <string_view>

namespace vornel::fbinst::loader {
namespace {

constexpr std::string_view kBackToMenu = "按 Esc 键或等待 10 秒返回菜单。";
constexpr std::string_view kWaitCommand = "sleep --interruptible 10";
constexpr std::string_view kAnyKeyBack = "按任意键返回菜单。";
constexpr std::string_view kBiosOnly = "此项只能在传统BIOS模式下启动";
constexpr std::string_view kSignedGrubFont = "(memdisk)/fonts/unicode.pf2";
constexpr std::string_view kOnBios = "if [ \"$grub_platform\" = pc ]; then";

class ConfigWriter {
  public:
    void Line(std::string_view text) {
        config_.append(static_cast<std::size_t>(depth_) * 2, ' ');
        config_ += text;
        config_ += '\n';
    }
    void Open(std::string_view text) {
        Line(text);
        ++depth_;
    }
    void Close(std::string_view text = "}") {
        --depth_;
        Line(text);
    }
    // "else", or an "elif ...; then" line.
    void Else(std::string_view text = "else") {
        Close(text);
        ++depth_;
    }
    void Echo(std::string_view text) { Line("echo " + GrubQuote(MenuText(text))); }
    void WaitThenBack() {
        Echo(kBackToMenu);
        Line(kWaitCommand);
    }
    // After an entry that printed an error, GRUB itself waits for a key before the menu comes
    // back; a wait of ours before it would ask for a second key.
    void BackAfterGrubError() { Echo(kAnyKeyBack); }
    std::string Text() && { return std::move(config_); }

  private:
    std::string config_;
    int depth_ = 0;
};

std::string BootAreaFile(const char* path) {
    return GrubQuote(std::string("/") + path);
}

using EfiImageBoot = std::function<void(ConfigWriter&, const std::string&)>;

// An image file of the boot area: on BIOS loaded into memory by memdisk, which boots it; UEFI
// cannot run memdisk, so `efiBoot` writes what is done there instead.
void WriteImageBoot(ConfigWriter& out, const std::string& image, std::string_view memdiskOptions,
                    const EfiImageBoot& efiBoot) {
    out.Line("set root=\"$vornel_area\"");
    out.Open("if [ -f " + GrubQuote(image) + " ]; then");
    out.Open(kOnBios);
    out.Line("linux16 " + BootAreaFile(kMemdiskPath) + " " + std::string(memdiskOptions));
    out.Line("initrd16 " + GrubQuote(image));
    out.Else();
    efiBoot(out, image);
    out.Close("fi");
    out.Else();
    out.Echo("找不到镜像文件：" + image);
    out.WaitThenBack();
    out.Close("fi");
}

void WriteBiosOnly(ConfigWriter& out, const std::string&) {
    out.Echo(kBiosOnly);
    out.WaitThenBack();
}

// An ISO on UEFI: the UEFI program inside it (see IsoEfiProgramCall).
void WriteIsoEfiProgram(ConfigWriter& out, const std::string& image) {
    out.Line(IsoEfiProgramCall(image));
}

// Every way an ISO entry can start, on either platform: from what the ISO holds when it can (its
// loopback menu, a known live layout), else the way the platform boots an image.
void WriteIsoAction(ConfigWriter& out, const std::string& image) {
    out.Open("if ! " + IsoBootCall(image) + "; then");
    WriteImageBoot(out, image, "iso raw", WriteIsoEfiProgram);
    out.Close("fi");
}

// On BIOS the disk's boot sector. UEFI firmware numbers no disks for us: there the PC's own
// system is looked for on every other disk (see EfiLocalSystemCall), and only when there is none
// does the firmware get control back, to start its next boot entry.
void WriteLocalDiskBoot(ConfigWriter& out, int biosDisk) {
    // BIOS disk N is GRUB's (hdN) as well: the stick, booted, is hd0 for both.
    const std::string disk = "(hd" + std::to_string(biosDisk) + ")";
    out.Open(kOnBios);
    // Looked for among GRUB's devices first (a wildcard, which lists only disks that exist), as
    // chainloader would print GRUB's raw error for a disk that is not there.
    out.Line("set vornel_disk_found=\"\"");
    out.Open("for vornel_device in (hd" + std::to_string(biosDisk) + "*); do");
    out.Open("if [ \"$vornel_device\" = \"" + disk + "\" ]; then");
    out.Line("set vornel_disk_found=y");
    out.Close("fi");
    out.Close("done");
    out.Open("if [ -n \"$vornel_disk_found\" ]; then");
    out.Line("set root=" + disk);
    out.Open("if chainloader +1; then");
    out.Line("boot");
    out.Close("fi");
    out.Echo("无法从磁盘 " + disk + " 启动：没有这个磁盘，或它没有引导代码。");
    out.BackAfterGrubError(); // chainloader's error
    out.Else();
    out.Echo("这台电脑没有磁盘 " + disk + "，无法从它启动。");
    out.WaitThenBack();
    out.Close("fi");
    out.Else("elif ! " + EfiLocalSystemCall() + "; then");
    out.Echo("正在交还给电脑的固件，由它从下一个启动项（通常是本机硬盘）启动……");
    out.Line("exit");
    out.Echo("固件没有接管启动。");
    out.WaitThenBack();
    out.Close("fi");
}

// A kernel of the boot area with its command line, on either platform. A program that comes as
// a pair, FILE.bin for the PC BIOS and FILE.efi for UEFI (as memtest86+ does), starts as its .efi
// twin on UEFI when the boot area holds one. The kernel gets the screen in a graphics mode and
// learns which partition it came from (vornel.area=its file-system id), so a system that works
// with its stick finds the stick again. Under Secure Boot, shim refuses an unsigned kernel.
void WriteKernelBoot(ConfigWriter& out, const Kernel& kernel) {
    out.Line("set root=\"$vornel_area\"");
    out.Line("set vornel_kernel=" + GrubQuote(kernel.file));
    if (platform::AsciiLower(kernel.file).ends_with(".bin")) {
        const std::string twin = kernel.file.substr(0, kernel.file.size() - 4) + ".efi";
        out.Open("if [ \"$grub_platform\" = efi -a -f " + GrubQuote(twin) + " ]; then");
        out.Line("set vornel_kernel=" + GrubQuote(twin));
        out.Close("fi");
    }
    out.Open("if [ ! -f " + GrubQuote(kernel.file) + " ]; then");
    out.Echo("找不到文件：" + kernel.file);
    out.WaitThenBack();
    if (kernel.initrd) {
        out.Else("elif [ ! -f " + GrubQuote(*kernel.initrd) + " ]; then");
        out.Echo("找不到文件：" + *kernel.initrd);
        out.WaitThenBack();
    }
    out.Else();
    out.Line("probe --set=vornel_area_uuid --fs-uuid \"($vornel_area)\"");
    out.Line("set gfxpayload=1024x768x32,800x600x32,keep");
    std::string load = "linux \"$vornel_kernel\"";
    for (const std::string& argument : kernel.arguments) {
        load += " " + GrubQuote(argument);
    }
    out.Open("if " + load + " \"vornel.area=$vornel_area_uuid\"; then");
    if (kernel.initrd) {
        out.Open("if initrd " + GrubQuote(*kernel.initrd) + "; then");
        out.Line("boot");
        out.Close("fi");
    } else {
        out.Line("boot");
    }
    out.Echo("无法启动：文件可能已损坏，或内存不够。");
    out.BackAfterGrubError();
    // linux has printed its error ("bad shim signature" when Secure Boot refused the kernel).
    out.Else("elif [ \"$shim_lock\" = y ]; then");
    out.Echo("安全启动已开启：固件拒绝了这个程序，因为它没有受信任的签名。");
    out.Echo("请在固件设置中关闭安全启动后再试，或在传统BIOS模式下启动此项。");
    out.BackAfterGrubError();
    out.Else();
    out.Echo("无法启动：文件可能已损坏，或内存不够。");
    out.BackAfterGrubError();
    out.Close("fi");
    out.Close("fi");
}

void WriteAction(ConfigWriter& out, const BootAction& action) {
    if (const auto* iso = std::get_if<IsoInMemory>(&action)) {
        WriteIsoAction(out, iso->image);
    } else if (const auto* floppy = std::get_if<FloppyInMemory>(&action)) {
        WriteImageBoot(out, floppy->image, "floppy", WriteBiosOnly);
    } else if (const auto* local = std::get_if<LocalDisk>(&action)) {
        WriteLocalDiskBoot(out, local->disk);
    } else if (const auto* kernel = std::get_if<Kernel>(&action)) {
        WriteKernelBoot(out, *kernel);
    } else if (std::holds_alternative<Reboot>(action)) {
        out.Line("reboot");
    } else if (std::holds_alternative<Halt>(action)) {
        out.Line("halt");
    } else if (std::holds_alternative<NoCommands>(action)) {
        out.Echo("这个菜单项没有启动命令，无法启动。");
        out.WaitThenBack();
    } else if (const auto* unsupported = std::get_if<UnsupportedCommands>(&action)) {
        out.Echo("这个菜单项用到了本启动盘的引导程序不支持的命令，无法启动：");
        for (const std::string& line : unsupported->lines) {
            out.Echo("  " + line);
        }
        out.WaitThenBack();
    }
}

void WriteTimeoutAndDefault(ConfigWriter& out, std::optional<int> timeout, std::optional<int> defaultEntry) {
    if (timeout) {
        out.Line("set timeout=" + std::to_string(*timeout));
    }
    if (defaultEntry) {
        out.Line("set default=" + std::to_string(*defaultEntry));
    }
}

// What follows "menuentry" or "submenu": the title, its options (a hot key, " --hotkey=..."),
// and the "{". GRUB's menuentry reads options even from quoted words: a title that begins with
// "-" follows "--", which ends the options, so it stays a title whatever it holds; its options
// then come first.
std::string EntryHead(const std::string& title, const std::string& options = "") {
    if (title.starts_with('-'))
        return (options.empty() ? "" : options.substr(1) + " ") + "-- " + GrubQuote(title) + " {";
    return GrubQuote(title) + options + " {";
}

// The number of a title written "【N】...", the way the package numbers its entries.
std::optional<int> EntryNumber(std::string_view title) {
    constexpr std::string_view open = "【", close = "】";
    if (!title.starts_with(open))
        return std::nullopt;
    title.remove_prefix(open.size());
    const std::size_t digits = title.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string_view::npos || digits > 4 ||
        !title.substr(digits).starts_with(close))
        return std::nullopt;
    return std::stoi(std::string(title.substr(0, digits)));
}

// The shown titles. When the menu numbers its entries, those without a number (the custom
// images) carry on the count, so every entry reads alike and lines up with the others.
std::vector<std::string> NumberedTitles(const MenuLst& menu) {
    std::vector<std::string> titles;
    bool numbered = false;
    for (const MenuLstEntry& entry : menu.entries) {
        titles.push_back(MenuText(entry.title));
        numbered = numbered || EntryNumber(titles.back());
    }
    int last = 0;
    for (std::string& title : titles) {
        if (const std::optional<int> number = EntryNumber(title))
            last = *number;
        else if (numbered)
            title = "【" + std::to_string(++last) + "】" + title;
    }
    return titles;
}

void WriteMenuLst(ConfigWriter& out, const MenuLst& menu) {
    WriteTimeoutAndDefault(out, menu.timeoutSeconds, menu.defaultEntry);
    if (menu.entries.empty()) {
        out.Open("menuentry " + GrubQuote("启动菜单是空的") + " {");
        out.Echo("U 盘上的启动菜单 menu.lst 还没有任何菜单项。");
        out.WaitThenBack();
        out.Close();
        return;
    }
    const std::vector<std::string> titles = NumberedTitles(menu);
    for (std::size_t n = 0; n < menu.entries.size(); ++n) {
        out.Open("menuentry " + EntryHead(titles[n]));
        WriteAction(out, menu.entries[n].action);
        out.Close();
    }
}

// GRUB knows the function keys and single letters or digits as hot keys.
std::string HotkeyOption(const std::string& key) {
    const std::string lower = platform::AsciiLower(key);
    const bool functionKey = lower.starts_with('f') &&
                             ((lower.size() == 2 && lower[1] >= '1' && lower[1] <= '9') ||
                              (lower.size() == 3 && lower[1] == '1' && lower[2] >= '0' && lower[2] <= '2'));
    const bool letterOrDigit =
        lower.size() == 1 && ((lower[0] >= 'a' && lower[0] <= 'z') || (lower[0] >= '0' && lower[0] <= '9'));
    return functionKey || letterOrDigit ? " --hotkey=" + lower : "";
}

// The file of a start-menu item inside the boot area, as GRUB names it.
std::string ItemFile(const FbMenuItem& item) {
    std::string path = item.file;
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path.starts_with('/') ? path : "/" + path;
}

// A grldr needs the PC BIOS (GRUB for UEFI has no ntldr); on UEFI its item stands for menu.lst.
std::string IfGrldrBootable(const FbMenuItem& item) {
    return "if [ \"$grub_platform\" = pc -a -f " + GrubQuote(ItemFile(item)) + " ]; then";
}

// A grldr item hands over to grldr when the boot area holds one (GRUB's ntldr loads it as a
// boot sector loads NTLDR, which is how grldr expects to start); otherwise this loader shows
// grldr's menu, menu.lst, itself.
void WriteGrldrItem(ConfigWriter& out, const FbMenuItem& item, const std::string& head, const MenuLst& menu) {
    out.Open(IfGrldrBootable(item));
    out.Open("menuentry " + head);
    out.Line("set root=\"$vornel_area\"");
    out.Line("ntldr " + GrubQuote(ItemFile(item)));
    out.Close();
    out.Else();
    out.Open("submenu " + head);
    WriteMenuLst(out, menu);
    out.Close();
    out.Close("fi");
}

void WriteStartMenu(ConfigWriter& out, const FbCfg& start, const MenuLst& menu) {
    WriteTimeoutAndDefault(out, start.timeoutSeconds, start.defaultItem);
    for (const FbMenuItem& item : start.items) {
        const std::string head = EntryHead(MenuText(item.text), HotkeyOption(item.key));
        if (IsGrldr(item.file)) {
            WriteGrldrItem(out, item, head, menu);
        } else {
            out.Open("menuentry " + head);
            out.Echo("本启动盘的引导程序不能启动文件：" + item.file);
            out.WaitThenBack();
            out.Close();
        }
    }
}

// The grldr item that the start menu boots at once (time-out 0), if there is one.
const FbMenuItem* GrldrBootedAtOnce(const FbCfg& start) {
    if (start.timeoutSeconds != 0 || start.items.empty()) {
        return nullptr;
    }
    const auto chosen = static_cast<std::size_t>(start.defaultItem.value_or(0));
    const FbMenuItem& item = start.items[chosen < start.items.size() ? chosen : 0];
    return IsGrldr(item.file) ? &item : nullptr;
}

void WritePreamble(ConfigWriter& out) {
    out.Line("# The stick's boot menu, made by the disk tool from fb.cfg and menu.lst whenever either");
    out.Line("# changes: edit those instead.");
    out.Open("if [ -z \"$vornel_area\" ]; then");
    out.Line("set vornel_area=\"$root\"");
    out.Line("export vornel_area");
    out.Close("fi");
    ConfigWriter afterMessage, afterGrubError;
    afterMessage.WaitThenBack();
    afterGrubError.BackAfterGrubError();
    const MenuReturn back{std::move(afterMessage).Text(), std::move(afterGrubError).Text()};
    out.Line(kSharedScript);
    out.Line(IsoBootFunctions(back) + EfiLocalSystemFunctions(back));
    // The Chinese titles need the Unicode font on the graphical terminal; the serial line, when
    // there is one, gets the menu too. Secure Boot lets GRUB load no font from the stick, but
    // Debian's signed GRUB for UEFI carries the same font inside its signed image.
    out.Open("if [ -f " + std::string(kSignedGrubFont) + " ]; then");
    out.Line("set vornel_font=" + std::string(kSignedGrubFont));
    out.Else();
    out.Line("set vornel_font=" + BootAreaFile(kFontPath));
    out.Close("fi");
    // GRUB's own texts in Chinese; without the translation file they stay English.
    out.Line("set locale_dir=\"($vornel_area)/" + std::string(kLocaleDir) + "\"");
    out.Line("set lang=zh_CN");
    out.Line("export locale_dir lang");
    // The menu's terminal, for the entries that hand the screen to a UEFI program and take it back.
    out.Line("set vornel_menu_output=console");
    out.Line("export vornel_menu_output");
    out.Open("if loadfont \"$vornel_font\"; then");
    out.Line("set gfxmode=auto");
    // The theme draws the graphical screen; the serial line keeps GRUB's text menu.
    out.Open("if [ -f " + BootAreaFile(kThemePath) + " ]; then");
    out.Line("set theme=\"($vornel_area)/" + std::string(kThemePath) + "\"");
    out.Line("export theme");
    out.Close("fi");
    out.Line("set vornel_menu_output=gfxterm");
    out.Line("terminal_output gfxterm $vornel_serial");
    out.Close("fi");
}

} // namespace

std::string TranslateMenus(const std::vector<std::string>& fbCfgLines,
                           const std::vector<std::string>& menuLstLines) {
    const FbCfg start = ParseFbCfg(fbCfgLines);
    const MenuLst menu = ParseMenuLst(menuLstLines);
    ConfigWriter out;
    WritePreamble(out);
    if (start.items.empty()) {
        WriteMenuLst(out, menu);
    } else if (const FbMenuItem* grldr = GrldrBootedAtOnce(start)) {
        // Without a grldr to hand over to, the start menu would only pass through to menu.lst.
        out.Open(IfGrldrBootable(*grldr));
        WriteStartMenu(out, start, menu);
        out.Else();
        WriteMenuLst(out, menu);
        out.Close("fi");
    } else {
        WriteStartMenu(out, start, menu);
    }
    return std::move(out).Text();
}

} // namespace vornel::fbinst::loader
