#!/bin/sh
# Makes the Linux test ISOs: Debian's kernel (unpacked from its package, not installed) with a
# tiny busybox initramfs that finds its own ISO again the way a live system does. The ISO's
# path comes from the kernel command line (findiso=, iso-scan/filename= or img_loop=); the
# initramfs looks for that file on every partition it sees, mounts the ISO from it and prints
# the marker stored inside, then powers the machine off.
#
# Usage: make-linux-test-isos.sh OUTPUT_FOLDER
# Writes loopback.iso (boots through /boot/grub/loopback.cfg), debian-live.iso (/live) and
# casper.iso (/casper) into OUTPUT_FOLDER. Exits 77 when the kernel package is not in the
# cache folder (scripts/install-deps.sh puts it there).
set -eu

out=$1
cache=${VORNEL_TEST_CACHE:-/var/cache/vornel-test}
deb=$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | grep -v -- '-dbg_' | head -n 1 || true)
if [ -z "$deb" ]; then
  echo "no Debian kernel package in $cache (run scripts/install-deps.sh)" >&2
  exit 77
fi

work=$out/work
rm -rf "$work"
mkdir -p "$work/kernel" "$work/initramfs/bin"
for d in proc sys dev mnt iso; do mkdir -p "$work/initramfs/$d"; done

# Only the kernel and the modules that reach a USB stick's FAT and an ISO file on it.
. "$(dirname "$0")/../../support/kernel-modules.sh"
kernel_with_modules "$deb" "$work/kernel" xhci_pci usb_storage sd_mod loop isofs vfat nls_cp437 nls_ascii nls_utf8
mv "$work/kernel/modules" "$work/initramfs/modules"

cp /bin/busybox "$work/initramfs/bin/busybox"
cat >"$work/initramfs/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec >/dev/ttyS0 2>&1
for m in $(cat /modules/order); do insmod /modules/$m.ko; done

for word in $(cat /proc/cmdline); do
  case $word in
    findiso=* | iso-scan/filename=* | img_loop=*) way=${word%%=*}; iso=${word#*=} ;;
  esac
done
echo "test system: looking for ${iso:-nothing} (${way:-no parameter})"

found=""
tries=0
while [ -z "$found" ] && [ -n "${iso:-}" ] && [ $tries -lt 60 ]; do
  for dev in /dev/sd*; do
    [ -b "$dev" ] || continue
    mount -t vfat -o ro "$dev" /mnt 2>/dev/null || continue
    if [ -f "/mnt$iso" ] && mount -t iso9660 -o ro,loop "/mnt$iso" /iso; then
      found="$dev"
      echo "VORNEL-ISO-FOUND $way $(cat /iso/marker)"
      break
    fi
    umount /mnt
  done
  tries=$((tries + 1))
  [ -n "$found" ] || sleep 1
done
[ -n "$found" ] || echo "VORNEL-ISO-NOT-FOUND"
poweroff -f
EOF
chmod +x "$work/initramfs/init"
(cd "$work/initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.img"

# One tree per way of booting; the marker says which ISO the test system found.
make_iso() { # NAME KERNEL_PATH INITRD_PATH LABEL
  tree=$work/$1
  mkdir -p "$tree$(dirname "$2")" "$tree$(dirname "$3")"
  cp "$work/kernel/vmlinuz" "$tree$2"
  cp "$work/initrd.img" "$tree$3"
  echo "$1" >"$tree/marker"
}
make_iso loopback /boot/vmlinuz /boot/initrd.img
mkdir -p "$work/loopback/boot/grub"
cat >"$work/loopback/boot/grub/loopback.cfg" <<'EOF'
set timeout=0
menuentry 'test system' {
  linux /boot/vmlinuz console=ttyS0 findiso=${iso_path}
  initrd /boot/initrd.img
}
EOF
make_iso debian-live /live/vmlinuz /live/initrd.img
make_iso casper /casper/vmlinuz /casper/initrd

for name in loopback debian-live casper; do
  xorriso -as mkisofs -quiet -R -V "$(echo "$name" | tr a-z- A-Z_)" -o "$out/$name.iso" "$work/$name"
done
rm -rf "$work"
