# Sourced by the scripts that boot Debian's own kernel under QEMU (TCG, no
# KVM needed) from an initramfs of ours: the kernel test and run_in_guest.sh.
# Needs linux-image-amd64, busybox-static and cpio; sets KERNEL and MODULES.

KERNEL=$(ls /boot/vmlinuz-*-amd64 2>/dev/null | sort -V | tail -n 1)
if [ -z "$KERNEL" ]; then
  echo "no /boot/vmlinuz-*-amd64 (apt-get install linux-image-amd64)" >&2
  exit 1
fi
MODULES=/lib/modules/${KERNEL#/boot/vmlinuz-}

# A root folder with busybox at bin/busybox (its applets are linked at boot).
initramfs_root() {
  mkdir -p "$1"/{bin,dev,proc,sys,tmp,etc,kelu,lib/modules}
  cp /bin/busybox "$1/bin/busybox"
}

# initramfs_modules ROOT NAME...: the modules and each one's dependencies
# (from modules.dep, before it), unpacked into ROOT/lib/modules, their file
# names in load order in ROOT/kelu/modules.list.
initramfs_modules() {
  local root=$1 name path file
  shift
  local -A loaded=()
  local order=()
  add_module() {
    local dep
    [ -z "${loaded[$1]:-}" ] || return 0
    loaded[$1]=1
    for dep in $(grep -E "^$1:" "$MODULES/modules.dep" | cut -d: -f2-); do add_module "$dep"; done
    order+=("$1")
  }
  for name in "$@"; do
    path=$(grep -E "/${name}\.ko(\.[a-z]+)?:" "$MODULES/modules.dep" | cut -d: -f1 | head -n 1)
    [ -n "$path" ] || { echo "module $name not in $MODULES" >&2; return 1; }
    add_module "$path"
  done
  for path in "${order[@]}"; do
    file=$(basename "$path")
    case "$file" in
      *.ko.xz) xz -dc "$MODULES/$path" >"$root/lib/modules/${file%.xz}"; file=${file%.xz} ;;
      *.ko.zst) zstd -qdc "$MODULES/$path" >"$root/lib/modules/${file%.zst}"; file=${file%.zst} ;;
      *) cp "$MODULES/$path" "$root/lib/modules/$file" ;;
    esac
    echo "$file" >>"$root/kelu/modules.list"
  done
}

# initramfs_pack ROOT FILE: the newc archive the kernel unpacks.
initramfs_pack() {
  (cd "$1" && find . | cpio -o -H newc --quiet) >"$2"
}
