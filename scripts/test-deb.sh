#!/usr/bin/env bash
# Builds the .deb, installs it with its dependencies into a clean Debian 12 tree made with
# debootstrap (kept between runs in BUILD/deb-test/root), and starts the installed program there
# offscreen: it must still be running after a few seconds and must have opened its start page
# from /opt/vornel/data. Needs root and Debian's package archive; takes minutes.
# Usage: scripts/test-deb.sh [BUILD]   (BUILD defaults to "build" and must be built)
set -euo pipefail

build=$(realpath "${1:-build}")
work="$build/deb-test"
root="$work/root"
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

[ "$(id -u)" -eq 0 ] || { echo "test-deb: needs root (debootstrap and chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "test-deb: debootstrap is not installed" >&2; exit 1; }
command -v strace >/dev/null || { echo "test-deb: strace is not installed" >&2; exit 1; }

echo "== building the package"
(cd "$build/packaging" && cpack --config CPackConfig.cmake >/dev/null)
deb=$(ls "$build"/packaging/vornel_*_amd64.deb)
dpkg-deb --field "$deb" Package Version Depends

mkdir -p "$work"
if [ ! -f "$work/root.done" ]; then
  echo "== debootstrap bookworm into $root"
  rm -rf "$root"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 \
    || { tail -20 "$work/debootstrap.log"; exit 1; }
  touch "$work/root.done"
fi

mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" || true; done
}
trap cleanup EXIT
# Only proc and a fresh tmpfs for shared memory: no host device is visible in the tree.
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mkdir -p "$root/dev/shm" && mount -t tmpfs tmpfs "$root/dev/shm" && mounts+=("$root/dev/shm")

echo "== installing $(basename "$deb") and its dependencies"
cp "$deb" "$root/tmp/vornel.deb"
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
  sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends /tmp/vornel.deb' \
  >"$work/install.log" 2>&1 || { tail -30 "$work/install.log"; exit 1; }
chroot "$root" dpkg -L vornel | grep -E '^/(opt|usr/bin|usr/share/(applications|polkit-1|metainfo))' | sort

echo "== starting the installed program offscreen"
status=0
strace -f -qq -e trace=openat -o "$work/open.log" \
  chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root QT_QPA_PLATFORM=offscreen \
  QTWEBENGINE_DISABLE_SANDBOX=1 timeout 10 vornel >"$work/run.log" 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  echo "test-deb: FAILED: the program ended by itself (exit $status) before the timeout"; tail -20 "$work/run.log"
  exit 1
fi
for file in /opt/vornel/data/Res/index.htm /opt/vornel/data/Res/wait.gif; do
  if ! grep -qE "\"$file\".*\) = [0-9]+$" "$work/open.log"; then
    echo "test-deb: FAILED: the program did not open $file"; exit 1
  fi
done
echo "test-deb: PASSED: installed into a clean Debian 12 tree; vornel ran 10 s and opened its data folder"
