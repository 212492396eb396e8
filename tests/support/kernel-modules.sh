# Sourced by the scripts that make a tiny Linux system for the tests.
#
# kernel_with_modules DEB FOLDER MODULE...
# Unpacks the kernel of Debian's kernel package file DEB (never installed) into FOLDER/vmlinuz,
# and the named modules, with every module they depend on, into FOLDER/modules/NAME.ko; writes
# FOLDER/modules/order, the names in the order to insert them: every module after those it
# depends on (its .modinfo "depends=", which is what depmod writes into modules.dep).
kernel_with_modules() {
  local deb=$1 folder=$2 unpacked order=""
  shift 2
  unpacked=$folder/unpacked
  mkdir -p "$unpacked" "$folder/modules"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$unpacked" --wildcards './boot/vmlinuz-*' \
    './lib/modules/*/kernel/drivers/usb/*' './lib/modules/*/kernel/drivers/scsi/*' \
    './lib/modules/*/kernel/drivers/block/loop.ko' './lib/modules/*/kernel/drivers/cdrom/*' \
    './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/drivers/md/*' \
    './lib/modules/*/kernel/fs/*' './lib/modules/*/kernel/net/9p/*' \
    './lib/modules/*/kernel/lib/*' './lib/modules/*/kernel/block/*' './lib/modules/*/kernel/crypto/*'
  add_module() {
    local name file dep
    name=$(echo "$1" | tr - _)
    case " $order " in *" $name "*) return 0 ;; esac
    file=$(find "$unpacked"/lib/modules/*/kernel -name "$(echo "$1" | tr _- '??').ko" | head -n 1)
    [ -n "$file" ] || { echo "module $1 not in $deb" >&2; return 1; }
    for dep in $(strings "$file" | sed -n 's/^depends=//p' | head -n 1 | tr , ' '); do
      add_module "$dep" || return 1
    done
    cp "$file" "$folder/modules/$name.ko"
    order="$order $name"
  }
  for m in "$@"; do
    add_module "$m" || return 1
  done
  echo "$order" >"$folder/modules/order"
  cp "$unpacked"/boot/vmlinuz-* "$folder/vmlinuz"
  rm -rf "$unpacked"
}
