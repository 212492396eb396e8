// The loader's functions for custom ISOs. Everything is decided at boot from the files the ISO
// holds, so the ISO stays one plain file on the stick and the menus need not know its kind.

#include "loader/IsoBoot.h"

#include "loader/GrubText.h"

#include <array>
#include <cctype>
#include <string_view>

namespace vornel::fbinst::loader {
namespace {

// Sets vornel_found to the first path below folder $1 whose names match, level by level, the
// regular expressions $2, $3 and $4 (as many as are given), or to "" when there is none. GRUB
// compares names as the file system writes them, and ISO 9660 keeps their case: memtest86+'s
// program is /EFI/BOOT/bootx64.efi. Each level lists its folder ("*" matches any name) and keeps
// the names that the level's expression, written for any case, matches.
constexpr std::string_view kFindAnyCaseFunction = R"grub(function vornel_find_any_case {
  set vornel_found=""
  for vornel_entry in "$1"/*; do
    if [ -z "$vornel_found" ]; then
      if regexp "$2" "$vornel_entry"; then
        if [ -z "$3" ]; then
          set vornel_found="$vornel_entry"
        else
          vornel_find_any_case "$vornel_entry" "$3" "$4"
        fi
      fi
    fi
  done
}
)grub";

// $1 is the ISO's path in the boot area. The kernel parameters are each layout's own for
// finding its ISO in a file: Debian live's findiso=, casper's and dracut's iso-scan/filename=,
// archiso's img_dev= and img_loop=; Fedora-style and Arch-style images name their medium by the
// ISO's volume label, which is read from the ISO here. Commands whose failure GRUB would print
// (and then wait for a key before the fallback) are avoided on the way to "not mine": [ -e ]
// and [ -f ] fail silently, a true [ ! -e ] on a device without a file system does not.
constexpr std::string_view kContentsFunction = R"grub(function vornel_boot_iso_contents {
  set root="$vornel_area"
  if [ ! -f "$1" ]; then
    return 1
  fi
  # One ISO at a time on (loop): one opened by an entry chosen before goes first.
  if [ -e (loop) ]; then
    loopback -d loop
  fi
  loopback loop "$1"
  if [ -e (loop)/ ]; then
    set iso_path="$1"
    export iso_path
  else
    loopback -d loop
    return 1
  fi
  if [ -f (loop)/boot/grub/loopback.cfg ]; then
    set root=(loop)
    configfile /boot/grub/loopback.cfg
    return 0
  fi
  set vornel_kernel=""
  for vornel_file in (loop)/live/vmlinuz*; do
    if [ -z "$vornel_kernel" -a -f "$vornel_file" ]; then
      regexp --set=1:vornel_version '/live/vmlinuz(.*)$' "$vornel_file"
      set vornel_kernel="/live/vmlinuz$vornel_version"
      set vornel_initrd="/live/initrd.img$vornel_version"
      set vornel_options="boot=live components findiso=$1"
    fi
  done
  if [ -z "$vornel_kernel" -a -f (loop)/casper/vmlinuz ]; then
    set vornel_kernel=/casper/vmlinuz
    for vornel_file in /casper/initrd.gz /casper/initrd.lz /casper/initrd; do
      if [ -f "(loop)$vornel_file" ]; then
        set vornel_initrd="$vornel_file"
      fi
    done
    set vornel_options="boot=casper iso-scan/filename=$1"
  fi
  if [ -z "$vornel_kernel" -a -f (loop)/images/pxeboot/vmlinuz ]; then
    set vornel_kernel=/images/pxeboot/vmlinuz
    set vornel_initrd=/images/pxeboot/initrd.img
    probe --set=vornel_iso_label --label (loop)
    if [ -f (loop)/LiveOS/squashfs.img ]; then
      set vornel_options="root=live:CDLABEL=$vornel_iso_label rd.live.image iso-scan/filename=$1"
    else
      set vornel_options="inst.stage2=hd:LABEL=$vornel_iso_label iso-scan/filename=$1"
    fi
  fi
  if [ -z "$vornel_kernel" -a -f (loop)/arch/boot/x86_64/vmlinuz-linux ]; then
    set vornel_kernel=/arch/boot/x86_64/vmlinuz-linux
    set vornel_initrd=/arch/boot/x86_64/initramfs-linux.img
    probe --set=vornel_iso_label --label (loop)
    probe --set=vornel_area_uuid --fs-uuid "($vornel_area)"
    set vornel_options="archisobasedir=arch archisolabel=$vornel_iso_label img_dev=/dev/disk/by-uuid/$vornel_area_uuid img_loop=$1"
  fi
  if [ -z "$vornel_kernel" ]; then
    loopback -d loop
    return 1
  fi
  echo '正在启动镜像中的 Linux：'"$vornel_kernel"
  linux "(loop)$vornel_kernel" $vornel_options
  set vornel_status="$?"
  if [ "$vornel_status" = 0 ]; then
    if initrd "(loop)$vornel_initrd"; then
      boot
    fi
  fi
  if [ "$vornel_status" = "$vornel_bad_signature" ]; then
    echo '安全启动已开启：固件拒绝了镜像中的 Linux 内核，因为它没有受信任的签名。'
    echo '请在固件设置中关闭安全启动后再试。'
  else
    echo '镜像中的 Linux 无法启动：文件可能已损坏，或内存不够。'
  fi
  @after_message@
  return 0
}
)grub";

// Where ISOs keep their El Torito EFI image as a file: iPXE; Debian's installer and live images
// and older Ubuntu; Fedora, RHEL and their relatives; Arch until 2021; Slackware; openSUSE.
constexpr std::array<std::string_view, 6> kEfiImageFiles = {"efi.img",
                                                            "boot/grub/efi.img",
                                                            "images/efiboot.img",
                                                            "EFI/archiso/efiboot.img",
                                                            "isolinux/efiboot.img",
                                                            "boot/x86_64/efi"};

constexpr std::string_view kRemovableMediaProgram = "EFI/BOOT/BOOTX64.EFI";

// The arguments of vornel_find_any_case for a path ("/"-separated): per level, an expression
// matching the path's end in any case ("EFI" gives '/[Ee][Ff][Ii]$').
std::string AnyCasePatterns(std::string_view path) {
    std::string words;
    std::string level = "/";
    const auto endLevel = [&] {
        words += (words.empty() ? "" : " ") + GrubQuote(level + "$");
        level = "/";
    };
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/') {
            endLevel();
        } else if (std::isalpha(byte)) {
            level += {'[', static_cast<char>(std::toupper(byte)), static_cast<char>(std::tolower(byte)), ']'};
        } else if (c == '.') {
            level += "\\.";
        } else {
            level += c;
        }
    }
    endLevel();
    return words;
}

// vornel_boot_iso_efi_program: $1 is the ISO's path in the boot area, opened as vornel_iso. The
// program is started through shim's checks, so under Secure Boot only a program signed with a key
// the firmware or shim trusts starts. vornel_find_efi_image_program looks for the program in the
// El Torito image that its arguments find (patterns as vornel_find_any_case takes them), opened
// as a second loop device, vornel_efi_image, which stays open while the program is started.
constexpr std::string_view kEfiProgramFunctions = R"grub(function vornel_find_efi_image_program {
  if [ -z "$vornel_efi_program" ]; then
    vornel_find_any_case (vornel_iso) "$1" "$2" "$3"
    if [ -n "$vornel_found" ]; then
      if [ -f "$vornel_found" ]; then
        loopback vornel_efi_image "$vornel_found"
        vornel_find_any_case (vornel_efi_image) @program_patterns@
        if [ -n "$vornel_found" ]; then
          set vornel_efi_program="$vornel_found"
          set vornel_efi_image_open=y
        else
          loopback -d vornel_efi_image
        fi
      fi
    fi
  fi
}
function vornel_boot_iso_efi_program {
  set root="$vornel_area"
  if ! loopback vornel_iso "$1"; then
    echo '无法打开这个镜像文件。'
    @after_grub_error@
    return 0
  fi
  set vornel_efi_image_open=""
  vornel_find_any_case (vornel_iso) @program_patterns@
  set vornel_efi_program="$vornel_found"
  @efi_image_searches@
  if [ -z "$vornel_efi_program" ]; then
    echo '这个镜像里没有UEFI启动程序。'
    echo '此项只能在传统BIOS模式下启动'
    @after_message@
  else
    chainloader "$vornel_efi_program"
    set vornel_status="$?"
    if [ "$vornel_status" = 0 ]; then
      vornel_start_loaded_program
      echo '镜像的UEFI启动程序已退出。'
      if [ "$vornel_status" = 0 ]; then
        @after_message@
      else
        @after_grub_error@
      fi
    elif [ "$vornel_status" = "$vornel_bad_signature" ]; then
      echo '安全启动已开启：固件拒绝了这个镜像的UEFI启动程序，因为它没有受信任的签名。'
      echo '请在固件设置中关闭安全启动后再试，或在传统BIOS模式下启动此项。'
      @after_grub_error@
    else
      echo '无法启动这个镜像的UEFI启动程序。'
      @after_grub_error@
    fi
  fi
  # Chosen again, the entry makes the loop devices anew.
  if [ "$vornel_efi_image_open" = y ]; then
    loopback -d vornel_efi_image
  fi
  loopback -d vornel_iso
}
)grub";

} // namespace

std::string IsoBootFunctions(const MenuReturn& back) {
    std::string imageSearches;
    for (std::string_view image : kEfiImageFiles) {
        imageSearches += "vornel_find_efi_image_program " + AnyCasePatterns(image) + "\n";
    }
    return std::string(kFindAnyCaseFunction) +
           FillIn(kContentsFunction, {{"@after_message@", back.afterMessage}}) +
           FillIn(kEfiProgramFunctions, {{"@program_patterns@", AnyCasePatterns(kRemovableMediaProgram)},
                                         {"@efi_image_searches@", imageSearches},
                                         {"@after_message@", back.afterMessage},
                                         {"@after_grub_error@", back.afterGrubError}});
}

std::string IsoBootCall(const std::string& image) {
    return "vornel_boot_iso_contents " + GrubQuote(image);
}

std::string IsoEfiProgramCall(const std::string& image) {
    return "vornel_boot_iso_efi_program " + GrubQuote(image);
}

} // namespace vornel::fbinst::loader
