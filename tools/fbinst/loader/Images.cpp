// GRUB's MBR code and the core image made at build time, carried inside the tool.

#include "loader/Loader.h"

// The images are included byte for byte by the assembler, so the build needs no generated
// source and the bytes cannot drift from the files grub-mkimage wrote.
asm(R"(
    .pushsection .rodata
    .balign 16
    .local vornel_loader_boot_img, vornel_loader_boot_img_end
vornel_loader_boot_img:
    .incbin ")" VORNEL_LOADER_BOOT_IMG R"("
vornel_loader_boot_img_end:
    .balign 16
    .local vornel_loader_core_img, vornel_loader_core_img_end
vornel_loader_core_img:
    .incbin ")" VORNEL_LOADER_CORE_IMG R"("
vornel_loader_core_img_end:
    .popsection
)");

namespace vornel::fbinst::loader {
namespace {

// The boot sector's code ends where the disk signature and the partition table begin.
constexpr std::size_t kMbrCodeBytes = 440;

} // namespace

extern "C" const std::uint8_t vornel_loader_boot_img[], vornel_loader_boot_img_end[];
extern "C" const std::uint8_t vornel_loader_core_img[], vornel_loader_core_img_end[];

const char* const kConfigPath = VORNEL_LOADER_DIR "/grub.cfg";
const char* const kFontPath = VORNEL_LOADER_DIR "/unicode.pf2";
const char* const kMemdiskPath = VORNEL_LOADER_DIR "/memdisk";
const char* const kThemePath = VORNEL_LOADER_DIR "/theme/theme.txt";
const char* const kLocaleDir = VORNEL_LOADER_DIR "/locale";

std::span<const std::uint8_t> MbrBootCode() {
    return {vornel_loader_boot_img, kMbrCodeBytes};
}

std::span<const std::uint8_t> CoreImage() {
    return {vornel_loader_core_img, vornel_loader_core_img_end};
}

} // namespace vornel::fbinst::loader
