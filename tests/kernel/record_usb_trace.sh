#!/usr/bin/env bash
# Records one real-kernel session for the fast tests: the kernel test's guest
# (Debian's kernel under QEMU) attaches a simulated drive as a USB optical
# drive and keluflash-cli flashes a small image into it through sg and
# usb-storage with --trace. The trace (gzip), the image (gzip) and the
# program's standard output come back over the serial console and are
# written to OUT_DIR; tests/cli/replay_test.cpp replays them.
#   record_usb_trace.sh BUILD_DIR OUT_DIR
# The image is small on purpose (two short blocks; the read-back reads two
# banks), so the trace stays small.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
OUT=$(mkdir -p "$2" && cd "$2" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=$BUILD/app/cli/keluflash-cli
WORK=$(mktemp -d "${TMPDIR:-/tmp}/keluflash-record.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Block 0: 1 KiB, 02 first as every plain block, the identification block of
# the simulated default drive (KELU ZXR-0131K 1.00, firmware id 4B 31) at
# 0x200. Block 1: 512 bytes of text.
head -c 1024 /dev/zero >"$WORK/block0.bin"
put() { printf "$2" | dd of="$WORK/block0.bin" bs=1 seek=$(($1)) conv=notrunc status=none; }
put 0 '\002'
put 0x200 '\005\200\000\062\133'
put 0x208 'KELU    ZXR-0131K       1.00'
put 0x226 'K1'
printf 'keluflash kernel trace %.0s' $(seq 23) >"$WORK/block1.bin"
truncate -s 512 "$WORK/block1.bin"
"$CLI" pack "$WORK/usb-flash.kfs" --block "$WORK/block0.bin" "$WORK/block1.bin" >/dev/null
"$CLI" info "$WORK/usb-flash.kfs" >/dev/null || { echo "the recording's image is not flashable" >&2; exit 1; }

# The guest's part, run after the scenarios (none here) with guest_init.sh's
# functions. Kernel messages would break the lines up: the console takes
# only panics while the files go out.
cat >"$WORK/extra.sh" <<GUEST
begin record-usb-trace
base64 -d >/tmp/usb-flash.kfs.gz <<'IMAGE'
$(gzip -9c "$WORK/usb-flash.kfs" | base64)
IMAGE
gunzip /tmp/usb-flash.kfs.gz
if start_drive /tmp/record.log --profile default --flash-file /tmp/flash.bin; then
  keluflash-cli --trace /tmp/usb-flash.trace flash --yes --device "\$SG" /tmp/usb-flash.kfs >/tmp/record.out 2>/tmp/record.err
  RC=\$?
  OUT=/tmp/record.out
  show /tmp/record.out
  show /tmp/record.err
  if flashed_and_verified; then
    dmesg -n 1
    echo KT-TRACE-BEGIN; gzip -9c /tmp/usb-flash.trace | base64; echo KT-TRACE-END
    echo KT-OUT-BEGIN; base64 /tmp/record.out; echo KT-OUT-END
    pass record-usb-trace
  else
    fail record-usb-trace "exit \$RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  fi
  stop_drive
else
  fail record-usb-trace "no virtual drive"
fi
GUEST

KELUFLASH_KERNEL_TEST_GROUPS=record KELUFLASH_KERNEL_TEST_EXTRA=$WORK/extra.sh \
  KELUFLASH_KERNEL_TEST_CONSOLE=$WORK/console.log "$HERE/run_kernel_test.sh" "$BUILD"
between() { tr -d '\r' <"$WORK/console.log" | sed -n "/^$1-BEGIN\$/,/^$1-END\$/p" | sed '1d;$d'; }
between KT-TRACE | base64 -d >"$OUT/kernel-usb-flash.trace.gz"
between KT-OUT | base64 -d >"$OUT/kernel-usb-flash.out"
gzip -9nc "$WORK/usb-flash.kfs" >"$OUT/kernel-usb-flash.kfs.gz"
gzip -t "$OUT/kernel-usb-flash.trace.gz"
ls -l "$OUT"/kernel-usb-flash.*
