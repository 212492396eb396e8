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
sources="$kernel_deb $udev_deb $(cat "$here/init" "$0" | cksum)"
[ "$(cat "$kit/made-from" 2>/dev/null || true)" = "$sources" ] && exit 0

rm -rf "$kit"
work=$kit/work
mkdir -p "$work/kernel" "$work/initramfs/bin" "$work/initramfs/modules"
for d in proc sys dev lower upper newroot; do mkdir -p "$work/initramfs/$d"; done

dpkg-deb --fsys-tarfile "$kernel_deb" | tar -x -C "$work/kernel" --wildcards './boot/vmlinuz-*' \
  './lib/modules/*/kernel/drivers/usb/*' './lib/modules/*/kernel/drivers/scsi/*' \
  './lib/modules/*/kernel/drivers/block/loop.ko' './lib/modules/*/kernel/drivers/virtio/*' \
  './lib/modules/*/kernel/drivers/md/*' './lib/modules/*/kernel/fs/*' './lib/modules/*/kernel/net/9p/*' \
  './lib/modules/*/kernel/lib/*' './lib/modules/*/kernel/block/*' './lib/modules/*/kernel/crypto/*'
modules=$(echo "$work"/kernel/lib/modules/*/kernel)

# Insert order: every module after the modules it depends on (its .modinfo "depends=", which is
# what depmod writes into modules.dep).
order=""
add_module() {
  local name file dep
  name=$(echo "$1" | tr - _)
  case " $order " in *" $name "*) return ;; esac
  file=$(find "$modules" -name "$(echo "$1" | tr _- '??').ko" | head -n 1)
  [ -n "$file" ] || { echo "module $1 not in $kernel_deb" >&2; exit 1; }
  for dep in $(strings "$file" | sed -n 's/^depends=//p' | head -n 1 | tr , ' '); do
    add_module "$dep"
  done
  cp "$file" "$work/initramfs/modules/$name.ko"
  order="$order $name"
}
# The USB stick (xhci, usb-storage, sd_mod), its FAT, loop and device-mapper for stand-in
# sticks, the host's root (virtio 9p) under an overlay.
for m in xhci_pci usb_storage sd_mod vfat nls_cp437 nls_ascii nls_utf8 loop dm_mod \
  virtio_pci 9pnet_virtio 9p overlay; do
  add_module "$m"
done
echo "$order" >"$work/initramfs/modules/order"

cp /bin/busybox "$work/initramfs/bin/busybox"
cp "$here/init" "$work/initramfs/init"
chmod +x "$work/initramfs/init"
(cd "$work/initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$kit/initrd.img"
cp "$work"/kernel/boot/vmlinuz-* "$kit/vmlinuz"

mkdir "$kit/udev"
dpkg-deb -x "$udev_deb" "$kit/udev"
rm -rf "$work"
echo "$sources" >"$kit/made-from"
