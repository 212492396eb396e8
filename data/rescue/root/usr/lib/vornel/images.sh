# Partition images on the stick's data partition: backup and restore. Sourced by the menu.
#
# A backup is a folder VornelBackup/DATE-PARTITION-FS of the stick's data partition holding
# partclone's image of the partition (only the blocks the file system uses), compressed with
# zstd and split into pieces image.pcl.zst.000, .001, ... that stay below FAT32's 4 GiB file
# limit, and info.txt: where it came from and the SHA-256 of the partclone image. A restore
# writes the image back and then makes a partclone image of the restored partition again: the
# same file system gives the same image, so equal SHA-256 sums prove the restored data matches.

data_mount=/run/vornel/data
backup_folder=$data_mount/VornelBackup
# Below 4 GiB (4096 MiB); VORNEL_PIECE_SIZE (split's size syntax) tries the split on small partitions.
piece_size=${VORNEL_PIECE_SIZE:-4000M}

# partclone's program for a file system, or nothing for one it cannot image.
partclone_tool() {
  case $1 in
  ext2 | ext3 | ext4) echo extfs ;;
  ntfs) echo ntfs ;;
  vfat) echo fat ;;
  exfat) echo exfat ;;
  btrfs) echo btrfs ;;
  xfs) echo xfs ;;
  esac
}

# Mounts the stick's data partition (the stick's FAT partition that is not its boot area).
mount_data() {
  grep -q " $data_mount " /proc/mounts && return 0
  area=$(boot_area)
  if [ -z "$area" ]; then
    echo "找不到启动本系统的U盘，无法使用U盘的数据分区。请插回U盘后再试。"
    return 1
  fi
  for partition in $(partitions_of "$(disk_of "$area")"); do
    [ "$partition" != "$area" ] && [ "$(fs_type "$partition")" = vfat ] || continue
    mkdir -p "$data_mount"
    mount -t vfat -o utf8 "/dev/$partition" "$data_mount" && return 0
  done
  echo "U盘上没有可用的数据分区（FAT32），无法保存或读取备份。"
  return 1
}

# "KEY<tab>TEXT" for every partition of the PC's disks.
partition_choices() {
  for disk in $(pc_disks); do
    for partition in $(partitions_of "$disk"); do
      printf '%s\t%s  （磁盘 %s）\n' "$partition" "$(partition_text "$partition")" "$(disk_title "$disk")"
    done
  done
}

info_value() {
  sed -n "s/^$2=//p" "$1/info.txt"
}

# Runs a partclone image of /dev/$1 (made by partclone.$2) through sha256sum; prints the sum.
image_sum() {
  partclone."$2" -c -s "/dev/$1" -o - -L /var/log/partclone.log | sha256sum | cut -d' ' -f1
}

backup_partition() {
  mount_data || { pause; return; }
  echo "选择要备份的分区（备份保存到U盘数据分区的 VornelBackup 文件夹）："
  pick "$(partition_choices)" || return
  partition=$picked
  fs=$(fs_type "$partition")
  tool=$(partclone_tool "$fs")
  if [ -z "$tool" ]; then
    echo "无法备份 $partition：不支持它的文件系统（${fs:-无文件系统}）。"
    pause
    return
  fi
  if in_use "$partition"; then
    echo "分区 $partition 正在使用中（已挂载），请先在命令行里卸载它。"
    pause
    return
  fi
  take_lock || { pause; return; }
  folder=$backup_folder/$(date +%Y%m%d-%H%M%S)-$partition-$fs
  # Two backups within one second keep their own folders.
  while [ -e "$folder" ]; do folder=$folder+; done
  mkdir -p "$folder"
  disk=$(disk_of "$partition")
  echo "正在备份 $(partition_text "$partition") 到U盘……"
  stream=/run/vornel/stream.$$
  rm -f "$stream"
  mkfifo "$stream"
  sha256sum <"$stream" | cut -d' ' -f1 >"$folder/.sum" &
  # partclone shows its progress; the pieces are written as the image streams.
  if (
    set -o pipefail
    partclone."$tool" -c -s "/dev/$partition" -o - -L /var/log/partclone.log | tee "$stream" |
      zstd -q -T0 -3 | split -b "$piece_size" -d -a 3 - "$folder/image.pcl.zst."
  ); then
    wait
    {
      echo "partition=$partition"
      echo "disk=$(disk_title "$disk")"
      echo "size=$(block_bytes "$partition")"
      echo "fs=$fs"
      echo "label=$(fs_label "$partition")"
      echo "tool=$tool"
      echo "sha256=$(cat "$folder/.sum")"
    } >"$folder/info.txt"
    rm -f "$folder/.sum" "$stream"
    sync
    echo "备份完成：U盘的 VornelBackup/${folder##*/}（$(ls "$folder" | grep -c '^image')个文件，共 $(du -sh "$folder" | cut -f1)）。"
  else
    wait
    rm -rf "$folder" "$stream"
    echo "备份失败：U盘空间不足，或读取分区出错（详情见上方）。没有留下不完整的备份。"
  fi
  release_lock
  pause
}

# "KEY<tab>TEXT" for every backup on the stick.
backup_choices() {
  for info in "$backup_folder"/*/info.txt; do
    [ -f "$info" ] || continue
    folder=${info%/info.txt}
    printf '%s\t%s：%s，原分区 %s（%s），磁盘 %s\n' "$folder" "${folder##*/}" "$(info_value "$folder" fs)" \
      "$(info_value "$folder" partition)" "$(size_text "$(info_value "$folder" size)")" "$(info_value "$folder" disk)"
  done
}

# "KEY<tab>TEXT" for every partition of the PC's disks that can hold $1 bytes.
target_choices() {
  partition_choices | while IFS="$(printf '\t')" read -r partition text; do
    [ "$(block_bytes "$partition")" -ge "$1" ] && printf '%s\t%s\n' "$partition" "$text"
  done
}

restore_partition() {
  mount_data || { pause; return; }
  echo "选择要还原的备份："
  pick "$(backup_choices)" || return
  folder=$picked
  size=$(info_value "$folder" size)
  tool=$(info_value "$folder" tool)
  sum=$(info_value "$folder" sha256)
  echo "选择还原到哪个分区（只列出容量不小于原分区的分区）："
  pick "$(target_choices "$size")" || return
  partition=$picked
  disk=$(disk_of "$partition")
  echo "将用备份 ${folder##*/} 覆盖分区 $partition。"
  echo "分区 $partition 在磁盘 $(disk_title "$disk")上，它现有的全部数据都将被覆盖，无法恢复。"
  confirm "确定要还原吗？" || { pause; return; }
  if in_use "$partition"; then
    echo "分区 $partition 正在使用中（已挂载），请先在命令行里卸载它。"
    pause
    return
  fi
  take_lock || { pause; return; }
  echo "正在还原 ${folder##*/} 到 $partition……"
  stream=/run/vornel/stream.$$
  rm -f "$stream"
  mkfifo "$stream"
  sha256sum <"$stream" | cut -d' ' -f1 >/run/vornel/restored.sum &
  if (
    set -o pipefail
    cat "$folder"/image.pcl.zst.* | zstd -q -d | tee "$stream" |
      partclone.restore -s - -o "/dev/$partition" -L /var/log/partclone.log
  ); then
    wait
    sync
    if [ "$(cat /run/vornel/restored.sum)" != "$sum" ]; then
      echo "还原失败：U盘上的备份文件已损坏（与备份时的内容不一致）。"
    else
      echo "正在校验还原后的分区……"
      if [ "$(image_sum "$partition" "$tool")" = "$sum" ]; then
        echo "还原完成，校验通过：分区 $partition 的数据与备份完全一致。"
      else
        echo "校验失败：分区 $partition 还原后的数据与备份不一致，磁盘可能有坏道。"
      fi
    fi
  else
    wait
    echo "还原失败（详情见上方）。"
  fi
  rm -f "$stream" /run/vornel/restored.sum
  release_lock
  pause
}
