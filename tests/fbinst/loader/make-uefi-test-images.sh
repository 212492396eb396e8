#!/bin/sh
# Makes what the UEFI boot tests with real images need:
# - memtest86.iso and ipxe.iso: memtest86+'s and iPXE's own ISOs, unpacked from their Debian
#   packages (memtest86+ keeps its program as /EFI/BOOT/bootx64.efi; iPXE's exists only inside
#   its El Torito EFI image /efi.img);
# - large.iso: the Linux test ISO booted through its loopback.cfg (make-linux-test-isos.sh),
#   grown past 1 GiB by a sparse tail, which the ISO ignores and the loader must not read;
# - bad-kernel.iso: a casper layout whose kernel is no kernel;
# - disk.img: the PC's own disk, GPT with an EFI system partition holding an unsigned program as
#   Windows Boot Manager (prints VORNEL-UNSIGNED-BOOT-MANAGER) and Debian's signed shim and GRUB
#   as another system (prints VORNEL-SIGNED-BOOT-MANAGER). The unsigned one returns to its caller;
#   the signed one powers the machine off (shim started from GRUB started by shim does not
#   survive its GRUB's return).
#
# Usage: make-uefi-test-images.sh OUTPUT_FOLDER
# Exits 77 when a package is not in the cache folder (scripts/install-deps.sh puts them there).
set -eu

out=$1
here=$(dirname "$0")
cache=${VORNEL_TEST_CACHE:-/var/cache/vornel-test}
unpack() { # PACKAGE FILE_IN_PACKAGE OUTPUT
  deb=$(ls "$cache/$1"_*.deb 2>/dev/null | head -n 1 || true)
  [ -n "$deb" ] || { echo "no $1 package in $cache (run scripts/install-deps.sh)" >&2; exit 77; }
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./$2" >"$3"
}
unpack memtest86+ usr/lib/memtest86+/memtest86+x64.iso "$out/memtest86.iso"
unpack ipxe usr/lib/ipxe/ipxe.iso "$out/ipxe.iso"

sh "$here/make-linux-test-isos.sh" "$out"
mv "$out/loopback.iso" "$out/large.iso"
rm "$out/debian-live.iso" "$out/casper.iso"
truncate -s 1100M "$out/large.iso"

mkdir -p "$out/bad-kernel/casper"
echo "not a kernel" >"$out/bad-kernel/casper/vmlinuz"
echo "not an initrd" >"$out/bad-kernel/casper/initrd"
xorriso -as mkisofs -quiet -R -o "$out/bad-kernel.iso" "$out/bad-kernel" 2>/dev/null

printf 'echo VORNEL-UNSIGNED-BOOT-MANAGER\nexit\n' >"$out/unsigned.cfg"
grub-mkimage -O x86_64-efi -p /none -c "$out/unsigned.cfg" -o "$out/bootmgfw.efi" echo minicmd
printf 'echo VORNEL-SIGNED-BOOT-MANAGER\nhalt\n' >"$out/signed.cfg"
disk=$out/disk.img
truncate -s 40M "$disk"
printf 'label: gpt\nstart=2048, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n' | sfdisk -q "$disk"
mkfs.fat --offset 2048 "$disk" 38912 >/dev/null
area="-i $disk@@1048576"
export MTOOLS_SKIP_CHECK=1
mmd $area ::/EFI ::/EFI/Microsoft ::/EFI/Microsoft/Boot ::/EFI/debian
mcopy $area "$out/bootmgfw.efi" ::/EFI/Microsoft/Boot/bootmgfw.efi
mcopy $area /usr/lib/shim/shimx64.efi.signed ::/EFI/debian/shimx64.efi
mcopy $area /usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed ::/EFI/debian/grubx64.efi
mcopy $area "$out/signed.cfg" ::/EFI/debian/grub.cfg
