#!/bin/sh
# The test machine's agent: its first program once the host's root is mounted. It sets the
# machine up as a desktop has it (udev started, every device announced), then runs the jobs the
# host drops into the shared folder, one at a time, each bounded by its own time-out:
#   jobs/N.sh   the script (run by sh, as root, from /)
#   jobs/N.job  written last by the host: the time-out in seconds; the job starts when it shows
#   jobs/N.out  what the script wrote (stdout and stderr)
#   jobs/N.rc   written last by the agent: the script's exit code (124 when it timed out)
# The share is the host's folder given as vornel.share on the kernel command line.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mkdir -p /dev/pts /dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount -t tmpfs -o mode=0755 tmpfs /run
mount -t cgroup2 cgroup2 /sys/fs/cgroup
hostname vornel-guest

kit=""
for word in $(cat /proc/cmdline); do
  case $word in vornel.kit=*) kit=${word#*=} ;; esac
done
# Debian's udev, unpacked beside the kernel, installed into the overlay (before /tmp hides a kit
# kept there).
tar -C "$kit/udev" -cf - . | tar -C / -xf - --keep-directory-symlink
mount -t tmpfs -o mode=1777 tmpfs /tmp
share=/run/vornel-share
mkdir -p "$share"
mount -t 9p -o trans=virtio,version=9p2000.L,cache=none,msize=512000 share "$share"

/lib/systemd/systemd-udevd --daemon
udevadm trigger --type=subsystems --action=add
udevadm trigger --type=devices --action=add
udevadm settle --timeout=60
echo "vornel-agent: ready"
: >"$share/ready"

jobs=$share/jobs
while :; do
  for job in "$jobs"/*.job; do
    [ -e "$job" ] || continue
    n=${job%.job}
    seconds=$(cat "$job")
    rm -f "$job"
    timeout -k 5 "$seconds" sh "$n.sh" >"$n.out" 2>&1 </dev/null
    echo $? >"$n.rc.part"
    mv "$n.rc.part" "$n.rc"
  done
  sleep 0.5
done
