#!/usr/bin/env bash
# Builds the stick's rescue system and memory tester from Debian's packages: the packages are
# fetched with apt-get download (never installed), unpacked, and the programs the rescue menu
# uses are taken with the libraries they need. The result, in OUTPUT_FOLDER:
#   vmlinuz              Debian's kernel, signed for Secure Boot
#   initrd.img           the whole rescue system (busybox, the tools, the menu), run from memory
#   memtest86+x64.bin    memtest86+ for the PC BIOS
#   memtest86+x64.efi    memtest86+ for UEFI (unsigned: Secure Boot refuses it)
#   key                  what the result was built from (see below)
#
# The result is kept in a cache folder, keyed by the exact package files apt would fetch now and
# by this folder's files: an unchanged tree with unchanged packages builds nothing, and another
# build tree takes the cached result. Cache: $VORNEL_RESCUE_CACHE, else ~/.cache/vornel-rescue.
#
# Usage: build.sh OUTPUT_FOLDER
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=$1
cache=${VORNEL_RESCUE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vornel-rescue}
results=(vmlinuz initrd.img memtest86+x64.bin memtest86+x64.efi)

# The tools and every library they need; a library missing here stops the build, named.
packages=(
  busybox-static libc6 libc-bin
  partclone libext2fs2 libcom-err2 libntfs-3g89 libssl3 libblkid1 libuuid1 libncursesw6 libtinfo6
  smartmontools libselinux1 libpcre2-8-0 libstdc++6 libgcc-s1
  testdisk libjpeg62-turbo zlib1g
  fdisk libfdisk1 libsmartcols1 libmount1 libreadline8 util-linux util-linux-locales libudev1
  e2fsprogs dosfstools ntfs-3g
  zstd liblzma5 liblz4-1 coreutils
  fbterm libfontconfig1 libfreetype6 libpng16-16 libbrotli1 libexpat1 libx86-1 fontconfig-config
  fonts-wqy-microhei ncurses-base
  memtest86+
)

# Programs taken from the packages, by their path there.
programs=(
  usr/sbin/partclone.extfs usr/sbin/partclone.ntfs usr/sbin/partclone.fat usr/sbin/partclone.exfat
  usr/sbin/partclone.btrfs usr/sbin/partclone.xfs usr/sbin/partclone.restore usr/sbin/partclone.chkimg
  usr/sbin/smartctl usr/bin/testdisk usr/bin/photorec
  sbin/cfdisk sbin/sfdisk sbin/blkid sbin/wipefs sbin/blockdev bin/lsblk
  sbin/e2fsck sbin/mke2fs sbin/fsck.fat sbin/mkfs.fat bin/ntfs-3g bin/ntfsfix
  usr/bin/zstd usr/bin/split bin/dd usr/bin/fbterm
)

# What the programs read: the console's Chinese font and its configuration, terminal
# descriptions, the UTF-8 locale, the Chinese texts of the tools that have them.
data=(
  usr/share/fonts/truetype/wqy/wqy-microhei.ttc etc/fonts usr/share/fontconfig
  lib/terminfo usr/share/terminfo/f/fbterm usr/lib/locale/C.utf8
  usr/share/locale/zh_CN/LC_MESSAGES/util-linux.mo usr/share/locale/zh_CN/LC_MESSAGES/partclone.mo
)

# Kernel modules, inside the kernel's module folder: what reaches the PC's disks (SATA, NVMe, USB,
# memory cards, virtual machines), USB keyboards, and the file systems the rescue system mounts;
# without the few that need buses a PC no longer has (PC Card, InfiniBand) and test modules.
modules=(
  drivers/ata drivers/nvme/host drivers/scsi/scsi_mod.ko drivers/scsi/scsi_common.ko drivers/scsi/sd_mod.ko
  drivers/scsi/sr_mod.ko drivers/scsi/virtio_scsi.ko block/t10-pi.ko drivers/usb/host drivers/usb/storage
  drivers/usb/common drivers/usb/core drivers/hid/hid.ko drivers/hid/hid-generic.ko drivers/hid/usbhid
  drivers/mmc drivers/misc/cardreader drivers/block/loop.ko drivers/block/virtio_blk.ko drivers/virtio
  drivers/cdrom fs/fat fs/exfat fs/nls fs/fuse fs/isofs fs/ext4 fs/jbd2 fs/mbcache.ko lib crypto
  arch/x86/crypto
)
left_out=('*/test_*' '*_cs.ko' '*pcmcia*' '*/nvme-rdma.ko' '*/u132-hcd.ko' '*/cb710-mmc.ko' '*/tifm_sd.ko')

fail() {
  echo "rescue system: $*" >&2
  exit 1
}

# Puts the program or library at PATH (inside the unpacked packages) into the system, with every
# library it needs, each once.
take() {
  local path=$1 needed found dir target
  [ -e "$root/$path" ] && return 0
  [ -e "$debs/$path" ] || fail "$path is in none of the packages"
  mkdir -p "$root/$(dirname "$path")"
  cp -a "$debs/$path" "$root/$path"
  if [ -L "$debs/$path" ]; then
    target=$(readlink "$debs/$path")
    case $target in
    /*) take "${target#/}" ;;
    *) take "$(dirname "$path")/$target" ;;
    esac
    return 0
  fi
  for needed in $(readelf -d "$debs/$path" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'); do
    found=""
    for dir in lib/x86_64-linux-gnu usr/lib/x86_64-linux-gnu; do
      [ -e "$debs/$dir/$needed" ] && found=$dir/$needed && break
    done
    [ -n "$found" ] || fail "$path needs $needed, which none of the packages holds"
    take "$found"
  done
}

assemble() {
  local work=$1 kernel_deb=$2 name version
  debs=$work/debs
  root=$work/root
  mkdir -p "$debs" "$root" "$work/kernel" "$work/result"
  for name in "${wanted_files[@]}"; do
    [ "$name" = "$kernel_deb" ] || dpkg-deb -x "$cache/debs/$name" "$debs"
  done

  for name in "${programs[@]}"; do take "$name"; done
  # busybox for everything else, each of its commands a link.
  take bin/busybox
  for name in $("$debs/bin/busybox" --list-full); do
    [ -e "$root/$name" ] && continue
    mkdir -p "$root/$(dirname "$name")"
    ln -s /bin/busybox "$root/$name"
  done
  take lib64/ld-linux-x86-64.so.2
  for name in "${data[@]}"; do
    mkdir -p "$root/$(dirname "$name")"
    cp -a "$debs/$name" "$root/$name"
  done
  # fontconfig's configuration links into conf.avail by absolute paths: all present.
  ln -s mkfs.fat "$root/sbin/mkfs.vfat"
  ln -s /bin/busybox "$root/init"

  local from_kernel=() taken
  for name in "${left_out[@]}"; do from_kernel+=("--exclude=$name"); done
  from_kernel+=('./boot/vmlinuz-*')
  for name in "${modules[@]}"; do from_kernel+=("./lib/modules/*/kernel/$name"); done
  dpkg-deb --fsys-tarfile "$cache/debs/$kernel_deb" | tar -x -C "$work/kernel" --wildcards "${from_kernel[@]}"
  version=$(ls "$work/kernel/lib/modules")
  # Every module's own dependencies must have come along ("-" and "_" are one in module names).
  taken=$(find "$work/kernel/lib/modules" -name '*.ko' -printf '%f\n' | sed 's/\.ko$//' | tr - _)
  for name in $(find "$work/kernel/lib/modules" -name '*.ko'); do
    for needed in $(tr '\0' '\n' <"$name" | sed -n 's/^depends=//p' | head -n 1 | tr , ' ' | tr - _); do
      grep -qxF "$needed" <<<"$taken" || fail "module ${name##*/} needs $needed, which is not taken"
    done
  done
  mkdir -p "$root/lib/modules"
  cp -a "$work/kernel/lib/modules/$version" "$root/lib/modules/"
  "$debs/bin/busybox" depmod -b "$root" "$version"

  # The rescue system's own files: its start, consoles and menu.
  cp -a "$here/root/." "$root/"

  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | zstd -q -12 -T0 >"$work/result/initrd.img"
  cp "$work/kernel/boot/vmlinuz-$version" "$work/result/vmlinuz"
  cp "$debs/boot/memtest86+x64.bin" "$debs/boot/memtest86+x64.efi" "$work/result/"
}

kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
[ -n "$kernel" ] || fail "no kernel package behind linux-image-amd64 (run apt-get update)"
# The files apt would fetch now, "NAME SHA256" each: their names carry the versions.
wanted=$(apt-get download --print-uris "$kernel" "${packages[@]}" |
  sed -n "s/^'[^']*' \([^ ]*\) [0-9]* SHA256:\([0-9a-f]*\)$/\1 \2/p" | LC_ALL=C sort)
[ "$(wc -l <<<"$wanted")" -eq $((${#packages[@]} + 1)) ] || fail "apt cannot fetch every package: $wanted"
key=$( (
  echo "$wanted"
  cd "$here" && find . -type f | LC_ALL=C sort | xargs sha256sum
) | sha256sum | cut -c1-16)

[ "$(cat "$out/key" 2>/dev/null)" = "$key" ] && exit 0

# The package file NAME is in the cache with the sum SHA256.
cached() {
  [ -f "$cache/debs/$1" ] && echo "$2  $cache/debs/$1" | sha256sum --quiet -c 2>/dev/null
}

built=$cache/built/$key
mkdir -p "$cache/debs" "$cache/built"
# One build at a time per cache (two build trees may build at once).
exec 9>"$cache/lock"
flock 9
if [ ! -f "$built/key" ]; then
  wanted_files=()
  missing=()
  while read -r name sum; do
    wanted_files+=("$name")
    cached "$name" "$sum" || missing+=("${name%%_*}")
  done <<<"$wanted"
  if [ ${#missing[@]} -gt 0 ]; then
    echo "rescue system: fetching ${#missing[@]} Debian packages"
    # apt-get names each file as --print-uris did.
    (cd "$cache/debs" && apt-get download -q "${missing[@]}" >"$cache/fetch.log" 2>&1) ||
      fail "apt-get download failed: $(cat "$cache/fetch.log")"
    while read -r name sum; do
      cached "$name" "$sum" || fail "$name did not arrive whole"
    done <<<"$wanted"
  fi
  kernel_deb=$(sed -n "s/^\(${kernel}_[^ ]*\) .*/\1/p" <<<"$wanted")
  work=$(mktemp -d "$cache/work.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  assemble "$work" "$kernel_deb"
  echo "$key" >"$work/result/key"
  rm -rf "$built"
  mv "$work/result" "$built"
  # Older results and packages are of no use once the packages have moved on.
  find "$cache/built" -mindepth 1 -maxdepth 1 ! -name "$key" -exec rm -rf {} +
  for name in "$cache"/debs/*; do
    printf '%s\n' "${wanted_files[@]}" | grep -qxF "${name##*/}" || rm -f "$name"
  done
fi

mkdir -p "$out"
for file in "${results[@]}" key; do
  cp "$built/$file" "$out/$file"
done
