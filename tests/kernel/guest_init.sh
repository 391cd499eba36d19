#!/bin/busybox sh
# /init of the kernel test's guest. Loads the modules, attaches simulated
# drives with keluflash-virtual-drive and runs keluflash-cli against them
# through the kernel's sg and sr nodes. Each scenario prints one line
# "KT-RESULT name PASS|FAIL ..."; "KT-DONE" ends the run, then the guest
# powers itself off (only the guest: this is its own init).
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
chmod 1777 /tmp
cd /tmp

up() { cut -d' ' -f1 /proc/uptime; }
say() { echo "KT: [$(up)] $*"; }
RESULT_START=0
begin() { RESULT_START=$(up); say "== $1"; }
pass() { echo "KT-RESULT $1 PASS ($(awk "BEGIN{printf \"%.1f\", $(up) - $RESULT_START}") s)"; }
fail() { echo "KT-RESULT $1 FAIL: $2"; }
show() { sed 's/^/  | /' "$1"; }
trace_lines() { sed 's/"data":"[0-9a-f]*",//; s/^/  trace| /'; }

finish() {
  say "kernel messages:"
  dmesg | grep -iE 'usb|scsi|sr[0-9]|sg[0-9]|reset|offline|abort' | tail -n 60 | sed 's/^/  dmesg| /'
  echo "KT-DONE"
  sync
  poweroff -f
}

say "booted, kernel $(uname -r)"
for module in $(cat /kelu/modules.list); do
  # Two virtual USB device controllers: two drives can be attached at once.
  params=
  [ "$module" != dummy_hcd.ko ] || params=num=2
  insmod "/lib/modules/$module" $params || say "insmod $module failed"
done
say "modules loaded"

# QEMU's IDE CD-ROM is the neighbour in the list.
for i in $(seq 120); do [ -e /sys/class/block/sr0 ] && break; usleep 250000; done

DRIVE_PID=
DRIVE_LOG=
SG=
SR=
start_drive() {
  DRIVE_LOG=$1
  shift
  keluflash-virtual-drive --verbose "$@" >"$DRIVE_LOG" 2>&1 &
  DRIVE_PID=$!
  line=
  for i in $(seq 240); do
    line=$(grep 'attached as' "$DRIVE_LOG") && break
    kill -0 "$DRIVE_PID" 2>/dev/null || break
    usleep 250000
  done
  SG=$(echo "$line" | sed -n 's/.*attached as \(\/dev\/sg[0-9]*\).*/\1/p')
  SR=$(echo "$line" | sed -n 's/.*(\(\/dev\/sr[0-9]*\)).*/\1/p')
  if [ -z "$SG" ] || [ -z "$SR" ]; then
    say "the virtual drive did not attach:"
    show "$DRIVE_LOG"
    return 1
  fi
  say "virtual drive $* at $SG ($SR)"
}
stop_drive() {
  kill -TERM "$DRIVE_PID" 2>/dev/null
  wait "$DRIVE_PID"
  grep -vE '\] #[0-9]+ ' "$DRIVE_LOG" | sed 's/^/  drive| /'
  # The gadget is gone once the kernel has dropped the sg node.
  for i in $(seq 120); do [ -e "/sys/class/scsi_generic/${SG#/dev/}" ] || break; usleep 250000; done
}

# keluflash-cli flash with a fresh output file; sets RC and OUT.
run_flash() {
  name=$1
  shift
  OUT=/tmp/$name.out
  timeout 900 "$@" >"$OUT" 2>&1
  RC=$?
  show "$OUT"
}
# The drive's flash as the virtual drive holds it, written to its
# --flash-file (default /tmp/flash.bin) on request.
dump_flash() {
  rm -f "$1"
  kill -USR1 "$DRIVE_PID"
  for i in $(seq 120); do [ -e "$1" ] && break; usleep 250000; done
  [ -e "$1" ]
}
# ... and compared with a file.
flash_equals() {
  file=${2:-/tmp/flash.bin}
  dump_flash "$file" && cmp -s "$file" "$1"
}
flashed_and_verified() {
  [ "$RC" = 0 ] && grep -qx 'Ok:Flash Complete!!' "$OUT" && grep -qx 'OK:Verify ok!!' "$OUT"
}
never_claims_success() {
  [ "$RC" = 1 ] && ! grep -q 'Ok:Flash Complete!!' "$OUT" && ! grep -q 'OK:Verify ok!!' "$OUT"
}

# The drive's flash when it attaches: a pattern no image leaves, so a flash
# that equals an image's afterwards was written by the scenario.
fresh_flash() {
  file=${1:-/tmp/flash.bin}
  dump_flash "$file" && ! cmp -s "$file" /kelu/plain.flash && ! cmp -s "$file" /kelu/scrambled.flash
}

# Which groups run: "native wine" unless the host chose (KELUFLASH_KERNEL_TEST_GROUPS).
group() { grep -qw "$1" /kelu/groups 2>/dev/null || [ ! -f /kelu/groups ]; }

# --- a drive that takes method A ---------------------------------------
if group native && start_drive /tmp/default.log --profile default --flash-file /tmp/flash.bin; then
  fresh_flash || say "NOTE: the drive's flash at the start equals an image's"
  say "the first commands the kernel sent:"
  grep -E '\] #[0-9]+ ' "$DRIVE_LOG" | head -n 24 | sed 's/^/  drive| /'
  begin list
  keluflash-cli list >/tmp/list.out 2>&1
  show /tmp/list.out
  if grep -qE "^[0-9]+  $SG  KELU    ZXR-0131K        1.00\$" /tmp/list.out &&
     grep -qE '^[0-9]+  /dev/sg[0-9]+  QEMU' /tmp/list.out; then
    pass list
  else
    fail list "no line for $SG with the drive's identification and revision beside QEMU's CD-ROM"
  fi

  begin plain-flash
  fresh=yes; fresh_flash || fresh=no
  run_flash plain keluflash-cli flash --yes --device "$SG" /kelu/plain.kfs
  if [ "$fresh" != yes ]; then fail plain-flash "the drive's flash at the start already equals an image's"
  elif ! flashed_and_verified; then fail plain-flash "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif ! flash_equals /kelu/plain.flash; then fail plain-flash "the drive's flash differs from the image's blocks"
  else pass plain-flash; fi

  # A second program while the first flashes: the drive is the first's alone
  # (O_EXCL on the sg node, and no way round through the sr node).
  begin two-programs
  keluflash-cli flash --yes --device "$SG" /kelu/plain.kfs >/tmp/first.out 2>&1 &
  first=$!
  for i in $(seq 400); do grep -q '^Flashing' /tmp/first.out && break; usleep 50000; done
  run_flash second keluflash-cli flash --yes --device "$SG" /kelu/plain.kfs
  second=$RC
  wait "$first"
  RC=$?
  OUT=/tmp/first.out
  if [ "$second" != 1 ] || ! grep -q 'device busy' /tmp/second.out; then
    fail two-programs "the second program was not refused as the drive is busy (exit $second)"
  elif grep -q '^Flashing' /tmp/second.out; then fail two-programs "the second program began an update"
  elif ! flashed_and_verified; then fail two-programs "the first update did not end verified (exit $RC)"
  else pass two-programs; fi

  begin scrambled-flash
  run_flash scrambled keluflash-cli flash --yes --device "$SG" /kelu/scrambled.kfs
  if ! flashed_and_verified; then fail scrambled-flash "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif ! flash_equals /kelu/scrambled.flash; then fail scrambled-flash "the drive's flash differs from the descrambled blocks"
  else pass scrambled-flash; fi

  # As udev's uaccess leaves it: the seat's user may open the sg node, nothing else.
  begin user-sg-flash
  chown 1000:1000 "$SG"; chmod 600 "$SG"; chmod 600 "$SR"
  # A user without capabilities, as at a desktop seat.
  run_flash user-sg su -s /bin/sh user -c "keluflash-cli flash --yes --device $SG /kelu/plain.kfs"
  chown 0:0 "$SG"
  if ! flashed_and_verified; then fail user-sg-flash "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif ! flash_equals /kelu/plain.flash; then fail user-sg-flash "the drive's flash differs from the image's blocks"
  else pass user-sg-flash; fi
  stop_drive
elif group native; then
  fail list "no virtual drive"
fi

# --- a drive that refuses method A and takes WRITE BUFFER ------------------
if group native && start_drive /tmp/method-b.log --profile method-b --flash-file /tmp/flash.bin; then
  begin method-b-flash
  fresh=yes; fresh_flash || fresh=no
  run_flash method-b keluflash-cli flash --yes --device "$SG" /kelu/plain.kfs
  if [ "$fresh" != yes ]; then fail method-b-flash "the drive's flash at the start already equals an image's"
  elif ! flashed_and_verified; then fail method-b-flash "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif ! grep -q 'SenseCode:5 : 24 : 0' "$OUT"; then fail method-b-flash "method A's refusal did not reach the program"
  elif ! grep -q 'answered with the kept sense' "$DRIVE_LOG"; then fail method-b-flash "usb-storage never asked for the sense"
  elif ! grep -q '^keluflash-virtual-drive .*#[0-9]* 3B 05 01' "$DRIVE_LOG"; then fail method-b-flash "no WRITE BUFFER reached the drive"
  elif ! flash_equals /kelu/plain.flash; then fail method-b-flash "the drive's flash differs from the image's blocks"
  else pass method-b-flash; fi

  # WRITE BUFFER through the sg node as the seat's user: sg passes every
  # command to a user who may open the node. The scrambled image, so that
  # the comparison shows this flash, not the one before.
  begin user-sg-method-b
  before=$(grep -c ' 3B 05 01' "$DRIVE_LOG")
  chown 1000:1000 "$SG"; chmod 600 "$SG"; chmod 600 "$SR"
  run_flash user-sg-b su -s /bin/sh user -c "keluflash-cli flash --yes --device $SG /kelu/scrambled.kfs"
  chown 0:0 "$SG"
  after=$(grep -c ' 3B 05 01' "$DRIVE_LOG")
  if ! flashed_and_verified; then fail user-sg-method-b "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif [ "$before" = "$after" ]; then fail user-sg-method-b "no WRITE BUFFER reached the drive"
  elif ! flash_equals /kelu/scrambled.flash; then fail user-sg-method-b "the drive's flash differs from the descrambled blocks"
  else pass user-sg-method-b; fi

  # The block node without CAP_SYS_RAWIO: the kernel lets 5A through (it
  # takes it for MODE SENSE(10)) and refuses WRITE BUFFER.
  begin user-sr-method-b
  before=$(grep -c ' 3B 05 01' "$DRIVE_LOG")
  chmod 600 "$SG"; chown 1000:1000 "$SR"; chmod 600 "$SR"
  run_flash user-sr su -s /bin/sh user -c "keluflash-cli flash --yes --device $SR /kelu/plain.kfs"
  chown 0:0 "$SR"
  after=$(grep -c ' 3B 05 01' "$DRIVE_LOG")
  if ! never_claims_success; then fail user-sr-method-b "exit $RC, or a line claims success"
  elif [ "$before" != "$after" ]; then fail user-sr-method-b "a WRITE BUFFER reached the drive through $SR"
  else
    grep -q '/dev/sg' "$OUT" || say "NOTE: no message names /dev/sgN as the way to reach the drive"
    pass user-sr-method-b
  fi
  stop_drive
elif group native; then
  fail method-b-flash "no virtual drive"
fi

# --- a drive that vanishes during the download ---------------------------
if group native && start_drive /tmp/vanish.log --profile default --vanish-at 4 --counting 5A/A0; then
  begin vanish
  run_flash vanish keluflash-cli flash --trace /tmp/vanish.trace --yes --device "$SG" /kelu/plain.kfs
  grep -A 3 '"cdb":"5a00384b45a00503' /tmp/vanish.trace | trace_lines
  if ! never_claims_success; then fail vanish "exit $RC, or a line claims success"
  elif ! grep -q '^Err:' "$OUT"; then fail vanish "no Err: line says what went wrong"
  elif ! grep -q 'vanishes' "$DRIVE_LOG"; then fail vanish "the drive never vanished"
  elif grep '"cdb":"5a00384b45a00503' /tmp/vanish.trace | grep -q '"status":1,'; then
    # The block write in flight when the drive went away never reached it.
    fail vanish "the block write the drive vanished in is taken as done (status 1)"
  else pass vanish; fi
  stop_drive
elif group native; then
  fail vanish "no virtual drive"
fi

# --- a drive that stops answering: the host's time-out and reset ----------
if group native && start_drive /tmp/silent.log --profile default --stop-answering-at 3 --counting 5A/A0; then
  begin stop-answering
  started=$(up)
  run_flash silent keluflash-cli flash --trace /tmp/silent.trace --yes --device "$SG" /kelu/plain.kfs
  grep -B 1 -A 2 '"cdb":"5a00384b45a00502' /tmp/silent.trace | trace_lines
  took=$(awk "BEGIN{printf \"%d\", $(up) - $started}")
  say "the flash took ${took}s"
  if ! never_claims_success; then fail stop-answering "exit $RC, or a line claims success"
  elif ! grep -q '^Err:' "$OUT"; then fail stop-answering "no Err: line says what went wrong"
  elif [ "$took" -lt 20 ]; then fail stop-answering "no command waited for the 20 s time-out"
  elif ! grep -q '^Err:Block [0-9]* got no answer' "$OUT"; then
    # A build that reads only the status byte takes the timed-out write as sent.
    fail stop-answering "the block write that timed out was not said to have got no answer"
  elif grep -q '"cdb":"5a00384b45a004' /tmp/silent.trace; then
    fail stop-answering "a trigger followed a block write that got no answer"
  elif ! sed -n '/stops answering/,$p' "$DRIVE_LOG" | grep -qE 'Reset|disabled'; then
    fail stop-answering "the host never reset the drive"
  else pass stop-answering; fi
  stop_drive
elif group native; then
  fail stop-answering "no virtual drive"
fi

# --- the trigger's answer held past the host's time-out ----------------------
# The drive takes the trigger and starts programming, but its answer never
# comes: the host gives up after 20 s and resets it. The trigger may have been
# taken, so the program waits for the drive and verifies.
if group native && start_drive /tmp/held-trigger.log --profile default --flash-file /tmp/flash.bin \
     --hold-answer-at 9 --counting 5A/A0; then
  begin held-trigger
  fresh=yes; fresh_flash || fresh=no
  run_flash held-trigger keluflash-cli flash --yes --device "$SG" /kelu/plain.kfs
  if [ "$fresh" != yes ]; then fail held-trigger "the drive's flash at the start already equals an image's"
  elif ! grep -q 'its answer held' "$DRIVE_LOG"; then fail held-trigger "the drive never held the trigger's answer"
  elif ! grep -q '^Err:The trigger got no answer (timed out): waiting for the drive\.' "$OUT"; then
    fail held-trigger "the program did not say that the trigger went unanswered"
  elif ! flashed_and_verified; then fail held-trigger "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif ! flash_equals /kelu/plain.flash; then fail held-trigger "the drive's flash differs from the image's blocks"
  else pass held-trigger; fi
  stop_drive
elif group native; then
  fail held-trigger "no virtual drive"
fi

# --- the first polls after the trigger held past the host's time-out ---------
# A drive busy programming may not answer TEST UNIT READY: a poll with no
# answer means "not ready yet", and the wait goes on. The drive programs for
# 50 s, longer than the two held polls: a program that took a poll with no
# answer for "ready" would read the flash back while it programs.
if group native && start_drive /tmp/held-polls.log --profile default --flash-file /tmp/flash.bin \
     --hold-polls-after-trigger 2 --programming-seconds 50; then
  begin held-polls
  fresh=yes; fresh_flash || fresh=no
  started=$(up)
  run_flash held-polls keluflash-cli flash --yes --device "$SG" /kelu/scrambled.kfs
  took=$(awk "BEGIN{printf \"%d\", $(up) - $started}")
  say "the flash took ${took}s"
  held=$(grep -c 'its answer held' "$DRIVE_LOG")
  if [ "$fresh" != yes ]; then fail held-polls "the drive's flash at the start already equals an image's"
  elif [ "$held" != 2 ]; then fail held-polls "the drive held $held polls, not 2"
  elif [ "$took" -lt 50 ]; then fail held-polls "the update did not wait for the drive to program (${took}s)"
  elif ! flashed_and_verified; then fail held-polls "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
  elif ! flash_equals /kelu/scrambled.flash; then fail held-polls "the drive's flash differs from the descrambled blocks"
  else pass held-polls; fi
  stop_drive
elif group native; then
  fail held-polls "no virtual drive"
fi

# --- keluflash-cli.exe under Wine: NT pass-through, which Wine turns into SG_IO
# The host's root (Wine and its libraries) read-only over virtio-9p, tmpfs
# where Wine writes (the prefix among it); the program runs in a chroot
# there, from tmpfs (Wine reads PE sections from 9p short).
# A command in that chroot, with the prefix's environment.
in_host() {
  chroot /host /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp WINEPREFIX=/tmp/prefix WINEARCH=win32 \
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}
# The longest any one Wine command may take (a first start reads all of
# Wine over 9p under emulation); then every Wine process is ended.
WINE_DEADLINE=600
# in_host with these arguments in the background, its output in the file $1;
# RC is its exit code, or 124 when it had not ended by the deadline.
in_host_deadline() {
  deadline_out=$1
  shift
  in_host "$@" >"$deadline_out" 2>&1 &
  pid=$!
  waited=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$waited" -ge "$WINE_DEADLINE" ]; then
      say "$* had not ended after ${WINE_DEADLINE}s; the processes then:"
      ps -o pid,stat,time,args | sed 's/^/  ps| /'
      in_host wineserver -k 2>/dev/null
      sleep 2
      kill -9 "$pid" 2>/dev/null
      wait "$pid"
      RC=124
      return
    fi
    sleep 1
    waited=$((waited + 1))
  done
  wait "$pid"
  RC=$?
}
wine_setup() {
  [ -f /kelu/keluflash-cli.exe ] || return 1
  mkdir -p /host
  mount -t 9p -o trans=virtio,version=9p2000.L,ro hostroot /host || return 1
  mount -t tmpfs tmpfs /host/tmp || return 1
  mount --bind /proc /host/proc
  mount --bind /sys /host/sys
  mount --bind /dev /host/dev
  mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm
  cp /kelu/keluflash-cli.exe /kelu/plain.kfs /host/tmp/
  chmod 1777 /host/tmp
  # A 32-bit prefix (Windows 7) whose D: and E: are CD-ROM drives: the
  # registry says so, and wine_letter points their dosdevices links at the
  # virtual drives' nodes before the mount manager starts.
  in_host_deadline /tmp/wineboot.log wineboot -i
  if [ ! -f /host/tmp/prefix/drive_c/windows/system32/kernel32.dll ]; then
    say "wineboot ended with $RC and made no prefix:"
    show /tmp/wineboot.log
    return 1
  fi
  mkdir -p /host/tmp/prefix/cdrom-d /host/tmp/prefix/cdrom-e
  ln -sfn ../cdrom-d /host/tmp/prefix/dosdevices/d:
  ln -sfn ../cdrom-e /host/tmp/prefix/dosdevices/e:
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"d:"="cdrom"\n"e:"="cdrom"\n' \
    >/host/tmp/prefix/drives.reg
  in_host_deadline /tmp/wine-reg.log wine reg import 'Z:\tmp\prefix\drives.reg'
  [ "$RC" = 0 ] || { show /tmp/wine-reg.log; return 1; }
  in_host wineserver -k 2>/dev/null
  in_host wineserver -w 2>/dev/null
  say "Wine prefix made"
}
# keluflash-cli.exe with these arguments; its output, without carriage
# returns, in the file $1; RC as in_host_deadline sets it.
wine_cli() {
  cli_out=$1
  shift
  in_host_deadline /tmp/wine.raw /bin/sh -c "cd /tmp && exec wine keluflash-cli.exe $*"
  tr -d '\r' </tmp/wine.raw >"$cli_out"
}
# One Wine session for all runs: a console program waiting on a pipe keeps
# the server and the mount manager up (a restart costs minutes here, and a
# restarted mount manager has been seen to drop a CD-ROM letter).
wine_hold() {
  [ -p /host/tmp/wine-hold ] || mkfifo /host/tmp/wine-hold
  in_host /bin/sh -c "cd /tmp && exec wine cmd.exe" </host/tmp/wine-hold >/dev/null 2>&1 &
  exec 9>/host/tmp/wine-hold
}
wine_stop() {
  exec 9>&-
  in_host wineserver -k 2>/dev/null
}
# A drive letter of the prefix names a node (the mount manager reads the
# links once, when Wine starts: both drives are attached before that).
wine_letter() { ln -sfn "$2" "/host/tmp/prefix/dosdevices/$1::"; }
wine_flashed() {
  [ "$RC" = 0 ] && grep -qx 'Ok:Flash Complete!!' "$OUT" && grep -qx 'OK:Verify ok!!' "$OUT"
}

# D: takes method A, E: refuses it and takes WRITE BUFFER; Wine runs as root.
if group wine && [ -f /kelu/keluflash-cli.exe ]; then
  if ! wine_setup; then
    fail wine-list "the host's root over 9p, the chroot or the Wine prefix could not be set up"
  elif ! start_drive /tmp/wine-b.log --profile method-b --udc dummy_udc.1 --flash-file /tmp/flash-b.bin; then
    fail wine-list "no second virtual drive"
  else
    B_PID=$DRIVE_PID; B_SG=$SG; B_SR=$SR; B_LOG=$DRIVE_LOG
    if start_drive /tmp/wine-a.log --profile default --udc dummy_udc.0 --flash-file /tmp/flash.bin; then
      wine_letter d "$SR"
      wine_letter e "$B_SR"
      wine_hold
      begin wine-list
      wine_cli /tmp/wine-list.out list
      show /tmp/wine-list.out
      if grep -F '\\.\D:' /tmp/wine-list.out | grep -qF 'KELU    ZXR-0131K        1.00' &&
         grep -qF '\\.\E:' /tmp/wine-list.out; then
        pass wine-list
      else
        fail wine-list "exit $RC, or no lines for"' \\.\D: and \\.\E: with the drives'"'"' identification and revision'
      fi

      begin wine-flash
      OUT=/tmp/wine-flash.out
      wine_cli "$OUT" flash --yes --device D: plain.kfs
      show "$OUT"
      if ! wine_flashed; then fail wine-flash "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
      elif ! flash_equals /kelu/plain.flash; then fail wine-flash "the drive's flash differs from the image's blocks"
      else pass wine-flash; fi

      begin wine-method-b
      OUT=/tmp/wine-method-b.out
      wine_cli "$OUT" flash --yes --device E: plain.kfs
      show "$OUT"
      A_PID=$DRIVE_PID
      DRIVE_PID=$B_PID
      if ! wine_flashed; then fail wine-method-b "exit $RC, or no Ok:Flash Complete!! and OK:Verify ok!!"
      elif ! grep -q ' 3B 05 01' "$B_LOG"; then fail wine-method-b "no WRITE BUFFER reached the drive"
      elif ! flash_equals /kelu/plain.flash /tmp/flash-b.bin; then fail wine-method-b "the drive's flash differs from the image's blocks"
      else pass wine-method-b; fi
      wine_stop
      DRIVE_PID=$A_PID
      stop_drive
    fi
    DRIVE_PID=$B_PID; SG=$B_SG; DRIVE_LOG=$B_LOG
    stop_drive

    # A block write times out: Wine drops SG_IO's host status, so the
    # program reads it as written. The drive's sum in the trigger must catch
    # it: nothing programmed, nothing claims success.
    if start_drive /tmp/wine-silent.log --profile default --udc dummy_udc.0 --flash-file /tmp/flash.bin \
         --stop-answering-at 3 --counting 5A/A0; then
      dump_flash /tmp/flash.bin && cp /tmp/flash.bin /tmp/flash-before.bin
      # E: keeps its CD-ROM entry without a drive: at the scan its
      # pass-through fails with Wine's "Request not supported", which the
      # program shows as the system's error.
      rm -f /host/tmp/prefix/dosdevices/e::
      wine_letter d "$SR"
      wine_hold
      begin wine-stop-answering
      OUT=/tmp/wine-silent.out
      wine_cli "$OUT" flash --trace silent.trace --yes --device D: plain.kfs
      show "$OUT"
      tr -d '\r' </host/tmp/silent.trace | grep -B 1 -A 2 '"cdb":"5a00384b45a00502' | trace_lines
      if ! never_claims_success; then fail wine-stop-answering "exit $RC, or a line claims success"
      elif ! grep -q 'it programmed nothing and keeps its firmware' "$OUT"; then
        fail wine-stop-answering "the summary does not say that the drive refused and programmed nothing"
      elif ! grep -q 'stops answering' "$DRIVE_LOG"; then fail wine-stop-answering "the drive never stopped answering"
      elif ! grep -q '^Status:2;SenseCode:5 : 2[46] : 0;' "$OUT"; then
        fail wine-stop-answering "no refused trigger: the lost block was not caught by the drive's sum"
      elif ! flash_equals /tmp/flash-before.bin; then fail wine-stop-answering "the drive's flash changed"
      else pass wine-stop-answering; fi
      wine_stop
      stop_drive
    else
      fail wine-stop-answering "no virtual drive"
    fi
  fi
fi

[ ! -f /kelu/extra.sh ] || . /kelu/extra.sh
finish
