#!/usr/bin/env bash
# Runs a command on this machine's own files, but under Debian's kernel in a
# QEMU guest (TCG, no KVM needed): for a machine whose kernel runs no 32-bit
# programs (built without IA32 emulation), where 32-bit Wine cannot start.
#   tools/vm/run_in_guest.sh DIR COMMAND
# The guest sees this machine's root read-only over virtio-9p, DIR writable
# at the same path, tmpfs at /tmp, and runs COMMAND (a bash command line) as
# root in DIR in a chroot there. Its output is printed as it comes; the exit
# code is COMMAND's. Needs qemu-system-x86, linux-image-amd64, busybox-static
# and cpio. KELUFLASH_GUEST_TIMEOUT (seconds, 3600) bounds the whole run.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
DIR=$(cd "$1" && pwd)
shift
COMMAND=$*
TIMEOUT=${KELUFLASH_GUEST_TIMEOUT:-3600}
. "$HERE/initramfs.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/keluflash-guest.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
ROOTFS=$WORK/root
initramfs_root "$ROOTFS"
initramfs_modules "$ROOTFS" 9p 9pnet_virtio virtio_pci
printf '%s\n' "$DIR" >"$ROOTFS/kelu/dir"
printf '%s\n' "$COMMAND" >"$ROOTFS/kelu/command"
cat >"$ROOTFS/init" <<'INIT'
#!/bin/busybox sh
# Only the guest's own init: it powers the guest off when the command ends.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/shm /dev/pts
# What udev would add: bash's process substitution opens /dev/fd/N.
ln -s /proc/self/fd /dev/fd
ln -s fd/0 /dev/stdin
ln -s fd/1 /dev/stdout
ln -s fd/2 /dev/stderr
for module in $(cat /kelu/modules.list); do insmod "/lib/modules/$module"; done
dir=$(cat /kelu/dir)
# Large messages and the page cache: Wine reads hundreds of megabytes of
# libraries, and without the cache it reads a program's sections short and
# crashes (guest and host never change the same files at once here).
# The folder goes on last: it may lie in the temporary folder, which the
# guest's own tmpfs would otherwise hide (its mount point is made there).
mkdir -p /host
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot /host &&
  mount -t tmpfs tmpfs /host/tmp &&
  { [ -d "/host$dir" ] || mkdir -p "/host$dir"; } &&
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose work "/host$dir" &&
  mount --bind /proc /host/proc && mount --bind /sys /host/sys && mount --bind /dev /host/dev &&
  mount -t tmpfs tmpfs /host/dev/shm && mount -t devpts devpts /host/dev/pts
rc=$?
if [ "$rc" = 0 ]; then
  chmod 1777 /host/tmp
  chroot /host /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/tmp TMPDIR=/tmp LANG=C.UTF-8 /bin/bash -c "cd '$dir' && $(cat /kelu/command)" </dev/null 2>&1
  rc=$?
else
  echo "the guest could not mount this machine's files"
fi
echo "GUEST-EXIT $rc"
sync
poweroff -f
INIT
chmod 755 "$ROOTFS/init"
initramfs_pack "$ROOTFS" "$WORK/initramfs.cpio"

echo "run_in_guest: $KERNEL under QEMU, $COMMAND" >&2
rc=0
timeout "$TIMEOUT" qemu-system-x86_64 -machine pc,accel=tcg -m 4096 -smp 2 -nodefaults \
  -display none -monitor none -serial stdio -no-reboot \
  -kernel "$KERNEL" -initrd "$WORK/initramfs.cpio" \
  -append "console=ttyS0 panic=-1 loglevel=1 rdinit=/init" \
  -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
  -virtfs "local,path=$DIR,mount_tag=work,security_model=none,multidevs=remap" \
  </dev/null | sed -u 's/\r$//' | tee "$WORK/console.log" || rc=$?
[ "$rc" != 124 ] || { echo "run_in_guest: the guest did not finish within ${TIMEOUT}s" >&2; exit 1; }
code=$(sed -n 's/^GUEST-EXIT \([0-9]*\)$/\1/p' "$WORK/console.log" | tail -n 1)
[ -n "$code" ] || { echo "run_in_guest: the guest ended without the command's exit code" >&2; exit 1; }
exit "$code"
