// The loader's function for custom ISOs. Everything is decided at boot from the files the ISO
// holds, so the ISO stays one plain file on the stick and the menus need not know its kind.

#include "loader/IsoBoot.h"

#include "loader/GrubText.h"

#include <string_view>

namespace vornel::fbinst::loader {
namespace {

constexpr std::string_view kFunctionName = "vornel_boot_iso_contents";

// $1 is the ISO's path in the boot area. The kernel parameters are each layout's own for
// finding its ISO in a file: Debian live's findiso=, casper's and dracut's iso-scan/filename=,
// archiso's img_dev= and img_loop=; Fedora-style and Arch-style images name their medium by the
// ISO's volume label, which is read from the ISO here. Commands whose failure GRUB would print
// (and then wait for a key before the fallback) are avoided on the way to "not mine": [ -e ]
// and [ -f ] fail silently, a true [ ! -e ] on a device without a file system does not.
constexpr std::string_view kFunctionBody = R"grub( {
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
  if linux "(loop)$vornel_kernel" $vornel_options; then
    if initrd "(loop)$vornel_initrd"; then
      boot
    fi
  fi
  echo '镜像中的 Linux 无法启动：文件可能已损坏，或内存不够。'
)grub";
constexpr std::string_view kFunctionEnd = "  return 0\n}\n";

} // namespace

std::string IsoBootFunction(const std::string& sayAndWait) {
    return "function " + std::string(kFunctionName) + std::string(kFunctionBody) + sayAndWait +
           std::string(kFunctionEnd);
}

std::string IsoBootCall(const std::string& image) {
    return std::string(kFunctionName) + " " + GrubQuote(image);
}

} // namespace vornel::fbinst::loader
