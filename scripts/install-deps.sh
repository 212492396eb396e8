#!/usr/bin/env bash
# Installs every Debian 12 package the project needs. Non-interactive and idempotent:
# it does nothing when every package is already present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev clang-format
  # GRUB's Chinese catalogue for the stick is made at build time (msgunfmt, msgcat, msgfmt)
  gettext
  # libraries
  qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin
  zlib1g-dev libjpeg-dev libgif-dev libblkid-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # Chinese glyphs
  fonts-wqy-microhei
  # the disk tool's helpers and the checks on what it writes
  fdisk dosfstools mtools util-linux
  # the boot loader carried on the stick, and booting it in tests
  grub-pc-bin grub-common syslinux-common qemu-system-x86 xorriso
  # UEFI boot: Debian's signed shim and GRUB, the EFI GRUB modules, OVMF to boot it in tests
  shim-signed grub-efi-amd64-signed grub-efi-amd64-bin ovmf
  # the test ISOs' tiny Linux systems (the kernel itself is unpacked from its package, below)
  busybox-static cpio
  # the rescue system (made from Debian's packages at build time), and its tests: partitions
  # made and read back without mounting, the screen read by OCR (also what a booted image shows)
  zstd binutils ntfs-3g e2fsprogs tesseract-ocr tesseract-ocr-chi-sim
  # Qt's own texts in Chinese
  qt6-translations-l10n
  # clicking through the real window
  xvfb xdotool openbox imagemagick
  # rights on the device for the disk tool; checking the desktop files; the package's install test
  pkexec desktop-file-utils appstream debootstrap strace
  # the test machine's desktop: the system bus and polkit's daemon (its kernel and udev below)
  dbus polkitd
)

# The test ISOs' and the test machine's kernel, the test machine's udev, and real images made by
# others for the boot tests (memtest86+'s and iPXE's ISOs): Debian's, fetched as package files
# into a fixed cache folder, where the tests find them. Never installed: this system needs no
# udev, and installed images would add entries to the machine's own boot menu.
cache=/var/cache/vornel-test
fetch_test_package() { # PACKAGE: fetched unless a file of it is in the cache
  ls "$cache/$1"_*.deb >/dev/null 2>&1 && return 0
  $SUDO mkdir -p "$cache"
  (cd "$cache" && $SUDO apt-get download "$1")
}
fetch_test_kernel() {
  local kernel
  ls "$cache"/linux-image-*-amd64_*.deb >/dev/null 2>&1 && return 0
  kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
  [ -n "$kernel" ] || { echo "no kernel package behind linux-image-amd64" >&2; return 1; }
  fetch_test_package "$kernel"
}

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -ne 0 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
fetch_test_kernel
for name in udev memtest86+ ipxe; do
  fetch_test_package "$name"
done
