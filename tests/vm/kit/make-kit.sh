#!/bin/sh
# Makes what the test machine boots: Debian's kernel and udev, unpacked from their package files
# (never installed here), and a busybox initramfs that loads the modules the machine needs and
# starts the host's own root file system, read-only over 9p under a tmpfs overlay.
#
# Usage: make-kit.sh KIT_FOLDER
# Writes KIT_FOLDER/vmlinuz, KIT_FOLDER/initrd.img and KIT_FOLDER/udev/ (the unpacked udev
# package), and KIT_FOLDER/made-from naming the package files; does nothing when that file already
# names the package files in the cache. Exits 77 when a package file is missing from the cache
# (scripts/install-deps.sh puts them there).
set -eu

kit=$1
here=$(cd "$(dirname "$0")" && pwd)
cache=${VORNEL_TEST_CACHE:-/var/cache/vornel-test}
kernel_deb=$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | grep -v -- '-dbg_' | head -n 1 || true)
udev_deb=$(ls "$cache"/udev_*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$kernel_deb" ] || [ -z "$udev_deb" ]; then
  echo "no Debian kernel or udev package in $cache (run scripts/install-deps.sh)" >&2
  exit 77
fi
sources="$kernel_deb $udev_deb $(cat "$here/init" "$0" "$here/../../support/kernel-modules.sh" | cksum)"
[ "$(cat "$kit/made-from" 2>/dev/null || true)" = "$sources" ] && exit 0

rm -rf "$kit"
work=$kit/work
mkdir -p "$work/initramfs/bin"
for d in proc sys dev lower upper newroot; do mkdir -p "$work/initramfs/$d"; done
# The USB stick (xhci, usb-storage, sd_mod), its FAT, loop and device-mapper for stand-in
# sticks, the host's root (virtio 9p) under an overlay.
. "$here/../../support/kernel-modules.sh"
kernel_with_modules "$kernel_deb" "$work/initramfs" xhci_pci usb_storage sd_mod vfat nls_cp437 nls_ascii \
  nls_utf8 loop dm_mod virtio_pci 9pnet_virtio 9p overlay
mv "$work/initramfs/vmlinuz" "$kit/vmlinuz"

cp /bin/busybox "$work/initramfs/bin/busybox"
cp "$here/init" "$work/initramfs/init"
chmod +x "$work/initramfs/init"
(cd "$work/initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$kit/initrd.img"

mkdir "$kit/udev"
dpkg-deb -x "$udev_deb" "$kit/udev"
rm -rf "$work"
echo "$sources" >"$kit/made-from"
