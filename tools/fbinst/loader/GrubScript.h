#pragma once
// What the loader's GRUB functions share: how an entry that could not start gives the menu back,
// and the GRUB status that tells a refused signature from other failures.

#include <string>
#include <string_view>

namespace vornel::fbinst::loader {

struct MenuReturn {
    // After a message of ours: the menu comes back on Esc or after a moment.
    std::string afterMessage;
    // After GRUB has printed an error in the entry: GRUB itself then waits for a key before the
    // menu comes back, so these lines only say so (a wait of ours would ask for a second key).
    std::string afterGrubError;
};

// For the config's preamble, before the functions that use it:
// - vornel_bad_signature: GRUB's status ($?) for a file whose signature Secure Boot, through shim,
//   does not trust (GRUB_ERR_BAD_SIGNATURE, "bad shim signature"). Under Secure Boot a damaged
//   program fails the same way: its signature no longer matches. Exported, so the entries of a
//   sub-menu see it too.
// - vornel_start_loaded_program boots the UEFI program chainloader has loaded, on the firmware's
//   own console, cleared, in the firmware's screen mode (leaving GRUB's graphical terminal
//   restores it): a program that writes text through the firmware (iPXE) would write it into
//   GRUB's picture. GRUB prepares the firmware's console on its first text, not on a clear. The
//   menu's terminal ($vornel_menu_output) comes back when the program returns; vornel_status is
//   then the boot's status.
inline constexpr std::string_view kSharedScript = R"grub(set vornel_bad_signature=45
export vornel_bad_signature
function vornel_start_loaded_program {
  terminal_output console $vornel_serial
  echo
  clear
  boot
  set vornel_status="$?"
  terminal_output $vornel_menu_output $vornel_serial
}
)grub";

} // namespace vornel::fbinst::loader
