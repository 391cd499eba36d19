#!/usr/bin/env bash
# The kernel test: Debian's own kernel boots under QEMU (TCG, no KVM needed)
# from an initramfs that holds busybox, keluflash-cli, keluflash-virtual-drive
# and the kernel modules they need. Inside, guest_init.sh attaches simulated
# drives as USB optical drives (dummy_hcd, FunctionFS, usb-storage, sr, sg)
# and flashes them through the real SG_IO path, with real faults. One boot
# runs every scenario; the guest's console is printed when one fails.
#   run_kernel_test.sh BUILD_DIR
# Needs qemu-system-x86, linux-image-amd64, busybox-static and cpio (./run
# kernel-test installs them).
set -euo pipefail
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=$BUILD/app/cli/keluflash-cli
DRIVE=$BUILD/tools/virtual_drive/keluflash-virtual-drive
# Generous: two cores shared with other work, and every instruction emulated.
GUEST_TIMEOUT=${KELUFLASH_KERNEL_TEST_TIMEOUT:-1500}

. "$HERE/../../tools/vm/initramfs.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/keluflash-kernel.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
ROOTFS=$WORK/root
initramfs_root "$ROOTFS"

# The two programs, without debug information, and the libraries they load.
add_program() {
  local program=$1 lib
  strip --strip-debug -o "$ROOTFS/bin/$(basename "$program")" "$program"
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$ROOTFS$(dirname "$lib")"
    [ -e "$ROOTFS$lib" ] || cp -L "$lib" "$ROOTFS$lib"
  done
}
add_program "$CLI"
add_program "$DRIVE"
# For looking further into the kernel's behaviour: KELUFLASH_KERNEL_TEST_EXTRA
# names a script the guest runs after the scenarios (with guest_init.sh's
# functions), KELUFLASH_KERNEL_TEST_PROGRAMS host programs it needs (sg_raw).
for program in ${KELUFLASH_KERNEL_TEST_PROGRAMS:-}; do add_program "$(command -v "$program")"; done
# KELUFLASH_KERNEL_TEST_GROUPS="wine" runs only those scenarios (native, wine).
[ -z "${KELUFLASH_KERNEL_TEST_GROUPS:-}" ] || echo "$KELUFLASH_KERNEL_TEST_GROUPS" >"$ROOTFS/kelu/groups"
[ -z "${KELUFLASH_KERNEL_TEST_EXTRA:-}" ] || cp "$KELUFLASH_KERNEL_TEST_EXTRA" "$ROOTFS/kelu/extra.sh"

# The Windows program under Wine in the guest: the guest sees the host's own
# root read-only over virtio-9p (Wine, its libraries).
WINE_EXE=${KELUFLASH_KERNEL_TEST_WINE_EXE:-}
MODULE_NAMES=(sg sr_mod ata_piix dummy_hcd libcomposite usb_f_fs usb-storage)
QEMU_SHARE=()
if [ -n "$WINE_EXE" ]; then
  MODULE_NAMES+=(9p 9pnet_virtio virtio_pci)
  QEMU_SHARE=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap")
fi
initramfs_modules "$ROOTFS" "${MODULE_NAMES[@]}"

# The images and the flash each must leave in the drive: block k in bank k,
# padded with zeros to 65536 bytes.
IMAGES=$ROOTFS/kelu
"$CLI" --simulate demo-image "$IMAGES/plain.kfs" >/dev/null
sizes=$("$CLI" info --json "$IMAGES/plain.kfs" | tr -d ' \n' | sed 's/.*"block_sizes":\[\([0-9,]*\)\].*/\1/' | tr ',' ' ')
offset=64
blocks=()
index=0
for size in $sizes; do
  block=$WORK/block$index.bin
  dd if="$IMAGES/plain.kfs" of="$block" bs=65536 iflag=skip_bytes,count_bytes skip="$offset" count="$size" status=none
  blocks+=("$block")
  offset=$((offset + size))
  index=$((index + 1))
done
expected_flash() {
  local out=$1 block padded
  : >"$out"
  for block in "${@:2}"; do
    padded=$WORK/padded.bin
    cp "$block" "$padded"
    truncate -s 65536 "$padded"
    cat "$padded" >>"$out"
  done
}
expected_flash "$IMAGES/plain.flash" "${blocks[@]}"
# The scrambled image: other blocks than the plain image's (block 0 keeps the
# identification; every byte after the first of the others is one more),
# each starting with 02 as scrambling needs, packed with --scramble; the
# drive must hold the descrambled blocks. Flashing one image after the other
# then always changes the flash.
index=0
for block in "${blocks[@]}"; do
  if [ "$index" != 0 ]; then
    { printf '\002'; tail -c +2 "$block" | LC_ALL=C tr '\000-\377' '\001-\377\000'; } >"$block.other"
    mv "$block.other" "$block"
  fi
  printf '\002' | dd of="$block" bs=1 count=1 conv=notrunc status=none
  index=$((index + 1))
done
"$CLI" pack "$IMAGES/scrambled.kfs" --scramble --block "${blocks[@]}" >/dev/null
expected_flash "$IMAGES/scrambled.flash" "${blocks[@]}"
cmp -s "$IMAGES/plain.flash" "$IMAGES/scrambled.flash" &&
  { echo "kernel test: the scrambled image's flash equals the plain one's" >&2; exit 1; }
# Scrambled truly: the file's bytes are not the blocks it carries.
cat "${blocks[@]}" >"$WORK/blocks.bin"
differing=$( { cmp -l <(tail -c +65 "$IMAGES/scrambled.kfs") "$WORK/blocks.bin" 2>/dev/null || true; } | wc -l)
[ "$differing" -gt 100000 ] ||
  { echo "kernel test: scrambled.kfs differs from its blocks in only $differing bytes" >&2; exit 1; }

# The guest makes its own 32-bit Wine prefix (about a minute): the host may
# run no 32-bit programs, and a prefix made there was slower in the guest.
[ -z "$WINE_EXE" ] || cp "$WINE_EXE" "$ROOTFS/kelu/keluflash-cli.exe"
cp "$HERE/guest_init.sh" "$ROOTFS/init"
chmod 755 "$ROOTFS/init"
echo "root:x:0:0:root:/:/bin/sh" >"$ROOTFS/etc/passwd"
echo "user:x:1000:1000:user:/tmp:/bin/sh" >>"$ROOTFS/etc/passwd"
initramfs_pack "$ROOTFS" "$WORK/initramfs.cpio"
echo "kernel test: $KERNEL, initramfs $(du -h "$WORK/initramfs.cpio" | cut -f1), $(wc -l <"$ROOTFS/kelu/modules.list") modules" >&2

# The guest: an empty IDE CD-ROM beside the virtual USB drive; its console
# on the serial line; it powers itself off when the scenarios are done.
CONSOLE=$WORK/console.log
started=$(date +%s)
rc=0
timeout "$GUEST_TIMEOUT" qemu-system-x86_64 -machine pc,accel=tcg -m 2048 -smp 2 -nodefaults \
  -display none -monitor none -serial "file:$CONSOLE" -no-reboot \
  -kernel "$KERNEL" -initrd "$WORK/initramfs.cpio" \
  -append "console=ttyS0 panic=-1 loglevel=4 rdinit=/init" \
  -drive if=ide,index=1,media=cdrom "${QEMU_SHARE[@]}" </dev/null || rc=$?
elapsed=$(( $(date +%s) - started ))
# KELUFLASH_KERNEL_TEST_CONSOLE=FILE keeps the whole console (every command the drive saw).
[ -z "${KELUFLASH_KERNEL_TEST_CONSOLE:-}" ] || cp "$CONSOLE" "$KELUFLASH_KERNEL_TEST_CONSOLE"

# Every scenario of the groups that ran must have said how it ended.
expected=()
groups=${KELUFLASH_KERNEL_TEST_GROUPS:-native wine}
if [[ " $groups " == *" native "* ]]; then
  expected+=(list plain-flash two-programs scrambled-flash user-sg-flash method-b-flash user-sg-method-b
             user-sr-method-b vanish stop-answering held-trigger held-polls)
fi
if [[ " $groups " == *" wine "* ]] && [ -n "$WINE_EXE" ]; then
  expected+=(wine-list wine-flash wine-method-b wine-stop-answering)
fi
missing=()
for name in "${expected[@]}"; do
  grep -q "^KT-RESULT $name " "$CONSOLE" || missing+=("$name")
done

passed=$(grep -c '^KT-RESULT .* PASS' "$CONSOLE" || true)
failed=$(grep -c '^KT-RESULT .* FAIL' "$CONSOLE" || true)
if [ "$rc" != 0 ] || [ "$failed" != 0 ] || [ "$passed" = 0 ] || [ ${#missing[@]} != 0 ] ||
   ! grep -q '^KT-DONE' "$CONSOLE"; then
  echo "== guest console" >&2
  cat "$CONSOLE" >&2
  echo "== what failed" >&2
  [ "$rc" = 124 ] && echo "kernel test: the guest did not finish within ${GUEST_TIMEOUT}s" >&2
  grep '^KT-RESULT .* FAIL' "$CONSOLE" >&2 || true
  [ ${#missing[@]} = 0 ] || echo "kernel test: these scenarios never ran: ${missing[*]}" >&2
  grep -q '^KT-DONE' "$CONSOLE" || echo "kernel test: the guest never finished its scenarios" >&2
  failed=$((failed + ${#missing[@]}))
  [ "$failed" != 0 ] || failed=1
else
  grep -E '^(KT-RESULT|KT: .*(NOTE|took))' "$CONSOLE" || true
fi
echo "kernel test: guest ran ${elapsed}s"
echo "kernel: $passed passed, $failed failed"
[ "$failed" = 0 ]
