#!/bin/sh
# A desktop automounter: as soon as udev announces a FAT partition, it mounts it under
# /media/vornel/, as a desktop's volume monitor mounts a stick's partitions. With "new" as $2 it
# mounts only partitions that appear (an "add" event), as most desktops do; with "every" on each
# event that names one ("add" or "change"), the most eager there can be. Each mount is logged as
# "TIME mounted DEVICE" to the file $1.
log=$1
mode=$2
udevadm monitor --udev --property --subsystem-match=block | while read -r line; do
  case $line in
    ACTION=*) action=${line#ACTION=} ;;
    DEVNAME=*) device=${line#DEVNAME=} ;;
    DEVTYPE=*) type=${line#DEVTYPE=} ;;
    ID_FS_TYPE=*) fs=${line#ID_FS_TYPE=} ;;
    "")
      if [ "$type" = partition ] && [ "$fs" = vfat ] &&
        { [ "$action" = add ] || { [ "$mode" = every ] && [ "$action" = change ]; }; }; then
        folder=/media/vornel/${device##*/}
        mkdir -p "$folder"
        mount -t vfat "$device" "$folder" 2>/dev/null &&
          echo "$(cut -d' ' -f1 /proc/uptime) mounted $device" >>"$log"
      fi
      action="" device="" type="" fs=""
      ;;
  esac
done
