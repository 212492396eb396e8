#!/usr/bin/env bash
# Starts the program from the build tree. With no USB stick plugged in (and no VORNEL_DRIVES
# given), a sparse 4 GiB disk image under the build tree stands in for one, as drive V:, so the
# make and restore buttons can be tried without a stick.
set -euo pipefail
build=${1:-build}

removable_disk_present() {
    local dev
    for dev in /sys/block/*; do
        case "$(basename "$dev")" in loop* | ram* | zram* | dm-* | md* | sr* | nbd*) continue ;; esac
        [ "$(cat "$dev/size" 2>/dev/null || echo 0)" -gt 0 ] || continue
        if [ "$(cat "$dev/removable" 2>/dev/null)" = 1 ] || readlink -f "$dev" | grep -q '/usb'; then
            return 0
        fi
    done
    return 1
}

if [ -z "${VORNEL_DRIVES:-}" ] && ! removable_disk_present; then
    image="$(cd "$build" && pwd)/virtual-stick.img"
    [ -f "$image" ] || truncate -s 4G "$image"
    export VORNEL_DRIVES="V=$image"
    echo "No USB stick found: using the disk image $image as drive V:."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are empty). Start it from a desktop session," >&2
    echo "or try it headless with QT_QPA_PLATFORM=offscreen make run." >&2
    exit 1
fi
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec "$build/vornel"
