// The PC's own system on UEFI. The firmware numbers no disks for GRUB the way the BIOS does, so
// the entry looks at every partition of every other disk for the boot manager that the PC's
// firmware would start, and starts it through shim's checks: under Secure Boot, Windows Boot
// Manager (signed by Microsoft) and other systems' shim or GRUB (signed by keys shim trusts)
// start, unsigned programs do not. Names on FAT are found in any case.

#include "loader/EfiLocalSystem.h"

#include "loader/GrubText.h"

#include <string_view>

namespace vornel::fbinst::loader {
namespace {

// $1: a device such as (hd1,gpt1). True when it is not on the stick's disk.
constexpr std::string_view kOtherDiskFunction = R"grub(function vornel_on_other_disk {
  regexp --set=1:vornel_part_disk '^\(([^,)]+)' "$1"
  if [ "$vornel_part_disk" = "$vornel_stick_disk" ]; then
    return 1
  fi
  return 0
}
)grub";

// $1: a program's full path, such as (hd1,gpt1)/EFI/debian/shimx64.efi. Starts it when it
// exists and nothing has been started yet. GRUB gives the started program the device of $root as
// its own, which is where a boot manager looks for the files beside it (shim for GRUB, GRUB for
// its config): root must be the program's partition.
constexpr std::string_view kProgramFunction = R"grub(function vornel_start_local_program {
  if [ -z "$vornel_local_started" -a -f "$1" ]; then
    set vornel_local_found=y
    regexp --set=1:vornel_program_device '^\(([^)]*)\)' "$1"
    set root="$vornel_program_device"
    chainloader "$1"
    set vornel_status="$?"
    if [ "$vornel_status" = 0 ]; then
      echo '正在启动本机的系统：'"$1"
      vornel_start_loaded_program
      if [ "$vornel_status" != 0 ]; then
        set vornel_local_error=y
      fi
      set vornel_local_started=y
    else
      set vornel_local_error=y
      if [ "$vornel_status" = "$vornel_bad_signature" ]; then
        set vornel_local_refused=y
      fi
    fi
    set root="$vornel_area"
  fi
}
)grub";

// The boot managers in the order they are tried: every disk is searched for one before the next.
constexpr std::string_view kStartFunction = R"grub(function vornel_start_local_system {
  regexp --set=1:vornel_stick_disk '^\(?([^,)]+)' "$vornel_area"
  set vornel_local_found=""
  set vornel_local_started=""
  set vornel_local_error=""
  set vornel_local_refused=""
  for vornel_part in (hd*); do
    if vornel_on_other_disk "$vornel_part"; then
      vornel_start_local_program "$vornel_part/EFI/Microsoft/Boot/bootmgfw.efi"
    fi
  done
  for vornel_name in shimx64.efi grubx64.efi; do
    for vornel_part in (hd*); do
      if vornel_on_other_disk "$vornel_part"; then
        for vornel_folder in "$vornel_part"/EFI/*; do
          if ! regexp '/[Bb][Oo][Oo][Tt]$' "$vornel_folder"; then
            vornel_start_local_program "$vornel_folder/$vornel_name"
          fi
        done
      fi
    done
  done
  for vornel_part in (hd*); do
    if vornel_on_other_disk "$vornel_part"; then
      vornel_start_local_program "$vornel_part/EFI/BOOT/BOOTX64.EFI"
    fi
  done
  if [ -z "$vornel_local_found" ]; then
    return 1
  fi
  if [ -n "$vornel_local_started" ]; then
    echo '本机系统的启动程序已退出。'
  elif [ -n "$vornel_local_refused" ]; then
    echo '安全启动已开启：固件拒绝了本机系统的启动程序，因为它没有受信任的签名。'
  else
    echo '无法启动本机系统的启动程序。'
  fi
  if [ -n "$vornel_local_error" ]; then
    @after_grub_error@
  else
    @after_message@
  fi
  return 0
}
)grub";

} // namespace

std::string EfiLocalSystemFunctions(const MenuReturn& back) {
    return std::string(kOtherDiskFunction) + std::string(kProgramFunction) +
           FillIn(kStartFunction,
                  {{"@after_message@", back.afterMessage}, {"@after_grub_error@", back.afterGrubError}});
}

std::string EfiLocalSystemCall() {
    return "vornel_start_local_system";
}

} // namespace vornel::fbinst::loader
