// The loader's functions for custom ISOs. Everything is decided at boot from the files the ISO
// holds, so the ISO stays one plain file on the stick and the menus need not know its kind.

#include "loader/IsoBoot.h"

#include "loader/GrubText.h"

#include <array>
#include <cctype>
#include <optional>
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

// vornel_boot_known_layout starts the kernel of a known live or install layout. $1 is the device
// holding the image's files: (loop) for an ISO file, a partition for an image written into one.
// $2 is the ISO file's path in the boot area, passed in each layout's own parameter for finding
// its ISO in a file: Debian live's findiso=, casper's and dracut's iso-scan/filename=, archiso's
// img_dev= and img_loop=. An image in a partition is no file: without $2 the system finds its
// medium itself, Debian live and casper by looking at every device, the Fedora and Arch styles
// by the volume label, which is read from the image here. It returns 1, having started nothing,
// when the image holds no layout it knows. Commands whose failure GRUB would print (and then
// wait for a key before the fallback) are avoided on the way to "not mine": [ -e ] and [ -f ]
// fail silently, a true [ ! -e ] on a device without a file system does not.
constexpr std::string_view kKnownLayoutFunction = R"grub(function vornel_boot_known_layout {
  set vornel_kernel=""
  for vornel_file in "$1"/live/vmlinuz*; do
    if [ -z "$vornel_kernel" -a -f "$vornel_file" ]; then
      regexp --set=1:vornel_version '/live/vmlinuz(.*)$' "$vornel_file"
      set vornel_kernel="/live/vmlinuz$vornel_version"
      set vornel_initrd="/live/initrd.img$vornel_version"
      set vornel_options="boot=live components"
      set vornel_find="findiso=$2"
    fi
  done
  if [ -z "$vornel_kernel" -a -f "$1/casper/vmlinuz" ]; then
    set vornel_kernel=/casper/vmlinuz
    for vornel_file in /casper/initrd.gz /casper/initrd.lz /casper/initrd; do
      if [ -f "$1$vornel_file" ]; then
        set vornel_initrd="$vornel_file"
      fi
    done
    set vornel_options="boot=casper"
    set vornel_find="iso-scan/filename=$2"
  fi
  if [ -z "$vornel_kernel" -a -f "$1/images/pxeboot/vmlinuz" ]; then
    set vornel_kernel=/images/pxeboot/vmlinuz
    set vornel_initrd=/images/pxeboot/initrd.img
    probe --set=vornel_iso_label --label "$1"
    if [ -f "$1/LiveOS/squashfs.img" ]; then
      set vornel_options="root=live:CDLABEL=$vornel_iso_label rd.live.image"
    else
      set vornel_options="inst.stage2=hd:LABEL=$vornel_iso_label"
    fi
    set vornel_find="iso-scan/filename=$2"
  fi
  if [ -z "$vornel_kernel" -a -f "$1/arch/boot/x86_64/vmlinuz-linux" ]; then
    set vornel_kernel=/arch/boot/x86_64/vmlinuz-linux
    set vornel_initrd=/arch/boot/x86_64/initramfs-linux.img
    probe --set=vornel_iso_label --label "$1"
    set vornel_options="archisobasedir=arch archisolabel=$vornel_iso_label"
    if [ -n "$2" ]; then
      probe --set=vornel_area_uuid --fs-uuid "($vornel_area)"
      set vornel_find="img_dev=/dev/disk/by-uuid/$vornel_area_uuid img_loop=$2"
    fi
  fi
  if [ -z "$vornel_kernel" ]; then
    return 1
  fi
  if [ -z "$2" ]; then
    set vornel_find=""
  fi
  echo '正在启动镜像中的 Linux：'"$vornel_kernel"
  linux "$1$vornel_kernel" $vornel_options $vornel_find
  set vornel_status="$?"
  if [ "$vornel_status" = 0 ]; then
    if initrd "$1$vornel_initrd"; then
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

// $1 is the ISO's path in the boot area, opened as (loop): its loopback menu, made for being
// booted from a file (its entries pass the ISO's path, iso_path, to their kernels), else a known
// layout told where the ISO file is. It returns 1, leaving no loop device, when it knows neither.
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
  if vornel_boot_known_layout (loop) "$1"; then
    return 0
  fi
  loopback -d loop
  return 1
}
)grub";

// vornel_boot_partition_image: $1 is the table slot of the image's partition on the disk the menu
// came from (the boot area's), $2 the menu's time-out, if it has one. The image is the medium
// itself there, as if written raw to a stick: its own menu for that, /boot/grub/grub.cfg (else
// its loopback.cfg, without an ISO path), runs with root on the partition, prefix in the image's
// GRUB folder (where its menu finds its fonts and themes) and the time-out carried in, as a
// menu without one would wait for ever. Esc there comes back here, and the stick's menu gets its
// own settings back. Else a known layout, which finds its medium itself; on UEFI else the
// image's UEFI program.
constexpr std::string_view kPartitionFunction = R"grub(function vornel_boot_partition_image {
  set root="$vornel_area"
  regexp --set=1:vornel_disk '^\(?([^,)]+)' "$vornel_area"
  set vornel_image_device="$vornel_disk,msdos$1"
  if ! [ -e "($vornel_image_device)/" ]; then
    echo '找不到这个镜像的分区：U盘上第 '"$1"' 个分区不存在，或者里面没有镜像。请重新制作启动盘。'
    @after_message@
    return 0
  fi
  set vornel_config=""
  if [ -f "($vornel_image_device)/boot/grub/grub.cfg" ]; then
    set vornel_config=/boot/grub/grub.cfg
  elif [ -f "($vornel_image_device)/boot/grub/loopback.cfg" ]; then
    set vornel_config=/boot/grub/loopback.cfg
  fi
  if [ -n "$vornel_config" ]; then
    set vornel_prefix_before="$prefix"
    set root="$vornel_image_device"
    set prefix="($vornel_image_device)/boot/grub"
    unset iso_path
    if [ -n "$2" ]; then
      set timeout="$2"
      export timeout
    fi
    configfile "$vornel_config"
    unset timeout
    set prefix="$vornel_prefix_before"
    set root="$vornel_area"
    return 0
  fi
  if vornel_boot_known_layout "($vornel_image_device)"; then
    return 0
  fi
  if [ "$grub_platform" = efi ]; then
    vornel_boot_efi_program "($vornel_image_device)" '它也没有自己的GRUB启动菜单，不是本启动盘认识的Linux系统，无法启动。'
  else
    echo '这个镜像没有自己的GRUB启动菜单，也不是本启动盘认识的Linux系统，无法启动。'
    @after_message@
  fi
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

// vornel_boot_efi_program: $1 is the device holding the image's files, (vornel_iso) for an ISO
// file or a partition; $2 the second line of the message when there is no program. The program
// is started through shim's checks, so under Secure Boot only a program signed with a key the
// firmware or shim trusts starts. vornel_find_efi_image_program looks for the program in the
// El Torito image that its arguments find (patterns as vornel_find_any_case takes them) on
// $vornel_efi_device, opened as a second loop device, vornel_efi_image, which stays open while
// the program is started. vornel_boot_iso_efi_program: $1 is the ISO's path in the boot area.
constexpr std::string_view kEfiProgramFunctions = R"grub(function vornel_find_efi_image_program {
  if [ -z "$vornel_efi_program" ]; then
    vornel_find_any_case "$vornel_efi_device" "$1" "$2" "$3"
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
function vornel_boot_efi_program {
  set vornel_efi_device="$1"
  set vornel_efi_image_open=""
  vornel_find_any_case "$1" @program_patterns@
  set vornel_efi_program="$vornel_found"
  @efi_image_searches@
  if [ -z "$vornel_efi_program" ]; then
    echo '这个镜像里没有UEFI启动程序。'
    echo "$2"
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
  # Chosen again, the entry makes the loop device anew.
  if [ "$vornel_efi_image_open" = y ]; then
    loopback -d vornel_efi_image
  fi
}
function vornel_boot_iso_efi_program {
  set root="$vornel_area"
  if ! loopback vornel_iso "$1"; then
    echo '无法打开这个镜像文件。'
    @after_grub_error@
    return 0
  fi
  vornel_boot_efi_program (vornel_iso) '此项只能在传统BIOS模式下启动'
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
           FillIn(kKnownLayoutFunction, {{"@after_message@", back.afterMessage}}) +
           std::string(kContentsFunction) +
           FillIn(kPartitionFunction, {{"@after_message@", back.afterMessage}}) +
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

std::string PartitionImageCall(int slot, std::optional<int> timeoutSeconds) {
    return "vornel_boot_partition_image " + std::to_string(slot) +
           (timeoutSeconds ? " " + std::to_string(*timeoutSeconds) : "");
}

} // namespace vornel::fbinst::loader
