# The PC's disks as the menus name them, the stick the rescue system started from, and the
# questions asked before anything is written. Sourced by the menu (busybox sh).

# The boot area's file system id: the boot loader puts it on the kernel command line.
boot_area_uuid() {
  sed -n 's/.*vornel\.area=\([^ ]*\).*/\1/p' /proc/cmdline
}

# The disk (sdb) that holds a partition (sdb2).
disk_of() {
  basename "$(readlink -f "/sys/class/block/$1/..")"
}

# The boot area we started from (sdb2), or nothing when it is not there (any more).
boot_area() {
  uuid=$(boot_area_uuid)
  [ -n "$uuid" ] || return 0
  device=$(blkid -c /dev/null -U "$uuid" 2>/dev/null)
  echo "${device#/dev/}"
}

# The disks never offered for writing: the stick we started from. When it cannot be told (the
# loader gave no id, or that partition is gone), every disk that holds one of our boot areas.
stick_disks() {
  area=$(boot_area)
  if [ -n "$area" ]; then
    disk_of "$area"
    return
  fi
  for device in $(blkid -c /dev/null -t LABEL=VORNELBOOT -o device 2>/dev/null); do
    disk_of "${device#/dev/}"
  done | sort -u
}

# Every disk of the PC, the stick included; no loop, RAM, optical or empty devices.
all_disks() {
  for path in /sys/block/*; do
    name=${path##*/}
    case $name in loop* | ram* | zram* | sr* | fd* | md* | dm-* | nbd*) continue ;; esac
    [ "$(cat "$path/size")" -gt 0 ] && echo "$name"
  done
}

# The disks the menus may write to: all but the stick.
pc_disks() {
  sticks=" $(stick_disks | tr '\n' ' ') "
  for disk in $(all_disks); do
    case $sticks in *" $disk "*) ;; *) echo "$disk" ;; esac
  done
}

is_stick() {
  case " $(stick_disks | tr '\n' ' ') " in *" $1 "*) return 0 ;; esac
  return 1
}

# 1000 as the unit, as disks are sold.
size_text() {
  awk -v b="$1" 'BEGIN {
    if (b >= 1e12) printf "%.1f TB", b / 1e12; else if (b >= 1e9) printf "%.1f GB", b / 1e9;
    else printf "%.1f MB", b / 1e6 }'
}

block_bytes() {
  echo $(($(cat "/sys/class/block/$1/size") * 512))
}

disk_model() {
  device=/sys/block/$1/device
  model=$(cat "$device/model" 2>/dev/null || cat "$device/name" 2>/dev/null)
  vendor=$(cat "$device/vendor" 2>/dev/null)
  vendor=$(echo $vendor)
  model=$(echo $model)
  # ATA disks report "ATA" as their vendor; some devices repeat it in the model.
  case $model in "$vendor"* | "") ;; *) [ "$vendor" != ATA ] && model="$vendor $model" ;; esac
  echo "${model:-型号不明}"
}

# "sda（QEMU HARDDISK，128.0 GB）": how every question names a disk.
disk_title() {
  echo "$1（$(disk_model "$1")，$(size_text "$(block_bytes "$1")")）"
}

partitions_of() {
  for path in /sys/block/"$1"/"$1"*; do
    [ -f "$path/partition" ] && echo "${path##*/}"
  done
}

fs_type() {
  blkid -c /dev/null -p -s TYPE -o value "/dev/$1" 2>/dev/null
}

fs_label() {
  blkid -c /dev/null -p -s LABEL -o value "/dev/$1" 2>/dev/null
}

# "sda1  ext4  “系统”  16.8 MB"
partition_text() {
  label=$(fs_label "$1")
  echo "$1  $(fs_type "$1" | grep . || echo 无文件系统)${label:+  “$label”}  $(size_text "$(block_bytes "$1")")"
}

smart_health() {
  report=$(smartctl -H "/dev/$1" 2>/dev/null)
  case $report in
  *"test result: PASSED"* | *"Health Status: OK"*) echo "良好" ;;
  *"test result: FAILED"* | *"Health Status:"*) echo "警告：磁盘自检报告了故障，请尽快备份数据" ;;
  *) echo "无法读取（这块磁盘不提供 SMART 信息）" ;;
  esac
}

# Is anything of this disk or partition mounted?
in_use() {
  grep -q "^/dev/$1" /proc/mounts
}

# Lists the lines of $1 ("KEY<tab>TEXT" each) numbered from 1 and reads a number: $picked is
# the chosen KEY. Fails for 0, an empty or unknown answer.
pick() {
  picked=""
  if [ -z "$1" ]; then
    echo "（没有可选的项目）"
    return 1
  fi
  echo "$1" | awk -F '\t' '{ printf "  %d. %s\n", NR, $2 }'
  echo "  0. 返回"
  printf '  请输入编号：'
  read -r answer || exit 0
  case $answer in '' | *[!0-9]*) return 1 ;; esac
  picked=$(echo "$1" | awk -F '\t' -v n="$answer" 'NR == n { print $1 }')
  [ -n "$picked" ]
}

# A yes-or-no question: only y (or yes) goes on.
confirm() {
  printf '%s（输入 y 确认，直接回车取消）：' "$1"
  read -r answer || exit 0
  case $answer in y | Y | yes | YES) return 0 ;; esac
  echo "已取消，没有写入任何数据。"
  return 1
}

pause() {
  printf '按回车键返回菜单……'
  read -r answer || exit 0
}

# One writing operation at a time, though the menu runs on the screen and on the serial line.
take_lock() {
  if ! mkdir /run/vornel/busy 2>/dev/null; then
    owner=$(cat /run/vornel/busy/pid 2>/dev/null)
    if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then
      echo "另一个终端上正在进行磁盘操作，请等它结束后再试。"
      return 1
    fi
  fi
  echo $$ >/run/vornel/busy/pid
}

release_lock() {
  rm -rf /run/vornel/busy
}
