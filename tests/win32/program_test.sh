#!/usr/bin/env bash
# The Windows programs as a person starts them, under Wine on a virtual display:
#   tests/win32/program_test.sh BUILD_DIR SCREENSHOT.png
# Needs WINEPREFIX (prepared by prepare_prefix.sh) and DISPLAY (an Xvfb). The
# prefix shows both programs Windows 98, so they take the ASPI path to the
# simulated WNASPI32.DLL: the drive they list is the simulated one.
#  1. keluflash-cli.exe lists that drive and flashes a demo image into it.
#  2. keluflash.exe lists that drive, and only it, in its drive list and its
#     status bar; then it updates the drive as a person does, with the mouse:
#     Open, the image's name typed into the file dialog, Start; the list shows
#     "OK:Verify ok!!" and the restart question is answered Cancel. Then the
#     window is screenshotted, a second instance ends at once with 0 and no
#     window, and Exit closes it.
#  3. keluflash.exe on a Windows 98 without an ASPI layer (WNASPI32.DLL
#     disabled for that one start): the message box "WNASPI32.DLL not found"
#     with its one button OK comes before the window; after OK the window has
#     an empty drive list and status bar, Start disabled, Open (its dialog
#     comes and is cancelled) and Exit usable, and no message line; Exit ends
#     it with 0.
#  4. keluflash.exe with the system at 120 and 144 DPI: its window grows
#     with the DPI, and is screenshotted beside the first picture
#     (SCREENSHOT-120dpi.png, SCREENSHOT-144dpi.png) to show the whole
#     caption and legible text.
# Nothing here answers the restart question with OK.
set -uo pipefail
tools=$(cd "$(dirname "$0")/../../tools/wine" && pwd)
build=$(cd "$1" && pwd)
screenshot=$2
: "${WINEPREFIX:?}" "${DISPLAY:?}"
export WINEDEBUG=-all KELUFLASH_SIM_PROGRAMMING_MS=300
cli=$build/app/cli/keluflash-cli.exe
window=$build/app/win32/keluflash.exe
caption="KELU Flash V1.0B6 Trial 0.4"
drive="KELU    ZXR-0131K        1.00"  # the simulated drive's list line
# Seconds a start may take before its first window. Under emulation (tools/vm)
# on a busy machine it takes minutes: 80 to 120 s measured with the host's two
# cores at a load of 6, and over 180 s at times.
start_limit=300
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/../support/test_lib.sh"

# Runs a program under Wine with a time limit; output without carriage returns.
run() { timeout 120 wine "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# --- keluflash-cli.exe ---------------------------------------------------------
out=$(run "$cli" list); rc=$?
if [ $rc = 0 ] && grep -q 'ASPI 0:0:0  KELU    ZXR-0131K        1.00' <<<"$out"; then
  pass "keluflash-cli list shows the drive behind WNASPI32.DLL"
else
  fail "keluflash-cli list (exit $rc): $out"
fi

out=$(cd "$work" && run "$cli" --simulate demo-image demo.kfs && run "$cli" flash --yes demo.kfs); rc=$?
if [ $rc = 0 ] && grep -q '^OK:Verify ok!!$' <<<"$out"; then
  pass "keluflash-cli flash writes and verifies the demo image through WNASPI32.DLL"
else
  fail "keluflash-cli flash (exit $rc): $out"
fi

# Windows hands a program its whole path as argv[0]: the usage line still
# names the program alone.
out=$(run "$cli" --help); rc=$?
if [ $rc = 0 ] && grep -q '^Usage: keluflash-cli \[OPTIONS\]' <<<"$out"; then
  pass "keluflash-cli --help names the program, not its path"
else
  fail "keluflash-cli --help (exit $rc): $(grep -m1 Usage <<<"$out")"
fi

# A path outside ASCII reaches the program in the ANSI code page; its JSON is UTF-8.
cp "$work/demo.kfs" "$work/café.kfs"
out=$(cd "$work" && run "$cli" info --json café.kfs); rc=$?
if [ $rc = 0 ] && grep -q '"file": "café.kfs"' <<<"$out" && iconv -f UTF-8 -t UTF-8 <<<"$out" >/dev/null; then
  pass "keluflash-cli info --json names café.kfs in UTF-8"
else
  fail "keluflash-cli info --json café.kfs (exit $rc): $out"
fi

# Ctrl+C while the drive is written: Wine turns a SIGINT into the console's
# CTRL_C_EVENT, as a console window's ^C would be. The program holds it, says
# so once, completes and verifies, and ends with the update's own exit code,
# saying that the Ctrl+C waited.
(cd "$work" && exec wine "$cli" --simulate --real-time flash --yes demo.kfs >ctrl-c.out 2>ctrl-c.err) &
flashing=$!
for _ in $(seq 600); do
  grep -q '^Flashing \.\.' "$work/ctrl-c.out" 2>/dev/null && break
  kill -0 "$flashing" 2>/dev/null || break
  sleep 0.1
done
kill -INT "$flashing" 2>/dev/null
for _ in $(seq 1200); do kill -0 "$flashing" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$flashing" 2>/dev/null
wait "$flashing"; rc=$?
out=$(tr -d '\r' <"$work/ctrl-c.out"); err=$(tr -d '\r' <"$work/ctrl-c.err")
notice='the drive is being written and cannot be stopped now'
if grep -q '^OK:Verify ok!!$' <<<"$out" && [ "$(grep -c "$notice" <<<"$err")" = 1 ] && [ $rc = 0 ] &&
   grep -q 'Ctrl+C arrived while the drive was written and waited for the update to end' <<<"$err"; then
  pass "Ctrl+C during the write is held: the update verifies and ends with its own code, saying the Ctrl+C waited"
else
  fail "Ctrl+C during the write (exit $rc): $out / $err"
fi

# --- keluflash.exe: a whole update through the window, by the mouse ----------
# window_probe.exe tells where a control is on the screen (Wine's screen is
# the X display) and what the message list holds; xdotool moves the real
# mouse pointer there and clicks.
probe=$build/tests/win32/window_probe.exe
click() {  # CAPTION LABEL
  local point
  point=$(timeout 60 wine "$probe" center "$1" "$2" 2>/dev/null | tr -d '\r')
  [ -n "$point" ] || return 1
  # shellcheck disable=SC2086
  xdotool mousemove $point click 1
}
wait_window() {  # CAPTION SECONDS
  timeout "$2" xdotool search --sync --name "^$1\$" 2>/dev/null | head -1
}
gone() {  # CAPTION SECONDS
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ -z "$(xdotool search --name "^$1\$" 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  return 1
}
read_window() {  # window_probe's commands; a missing window or control is not read as empty
  local out
  out=$(timeout 60 wine "$probe" "$@" 2>/dev/null) || { echo "(window_probe $* found nothing)"; return 1; }
  tr -d '\r' <<<"$out"
}
list_lines() { read_window lines "$caption"; }
shoot() {  # WINDOW_ID FILE
  mkdir -p "$(dirname "$2")"
  xwd -id "$1" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$2" && [ -s "$2" ]
}

(cd "$work" && exec wine "$window") >"$work/window.log" 2>&1 &
launcher=$!
wid=$(wait_window "$caption" "$start_limit")
if [ -z "$wid" ]; then
  fail "keluflash.exe showed no window \"$caption\""
  kill "$launcher" 2>/dev/null
else
  pass "keluflash.exe opened its window"
  sleep 2  # let it paint

  # The machine's one drive is the simulated one behind WNASPI32.DLL; the
  # prefix's CD-ROM letters are folders, on which pass-through fails
  # ("Request not supported."). The window lists the drive, and shows it in
  # the status bar, only because the program itself chose ASPI for the
  # Windows 98 it was told it runs on.
  items=$(read_window items "$caption")
  panel=$(read_window text "$caption" msctls_statusbar32)
  if [ "$items" = "$drive" ] && [ "$panel" = "$drive" ]; then
    pass "the drive list and the status bar show the drive behind WNASPI32.DLL"
  else
    fail "the drive list holds \"$items\", the status bar \"$panel\"; expected \"$drive\""
  fi

  # Open: the dialog, the image's name typed into it, Enter.
  dialog=
  if click "$caption" "&Open"; then dialog=$(wait_window Open 30); fi
  if [ -n "$dialog" ]; then
    sleep 1
    xdotool type --delay 20 "$(winepath -w "$work/demo.kfs" 2>/dev/null)"
    xdotool key Return
    if gone Open 30; then pass "Open: the file dialog took the demo image"; else fail "the Open dialog stayed"; fi
  else
    fail "Open showed no file dialog"
  fi

  # Start: the update runs; at its end the restart question comes up.
  question=
  if click "$caption" "&Start"; then question=$(wait_window Warning 180); fi
  if [ -n "$question" ]; then
    lines=$(list_lines)
    if grep -qx 'OK:Verify ok!!' <<<"$lines"; then
      pass "Start: the list shows \"OK:Verify ok!!\", then the restart question"
    else
      fail "the restart question came, but the list holds: $lines"
    fi
    # Cancel: nothing restarts and the window stays.
    if click Warning Cancel && gone Warning 30 && [ -n "$(xdotool search --name "^$caption\$" 2>/dev/null)" ]; then
      pass "the restart question answered Cancel; the window stays"
    else
      fail "Cancel did not close the restart question"
    fi
  else
    fail "Start: no restart question within 180 s; the list holds: $(list_lines)"
  fi

  sleep 1
  if shoot "$wid" "$screenshot"; then
    pass "screenshot in $screenshot"
  else
    fail "no screenshot"
  fi

  second_start=$(date +%s)
  run "$window" >/dev/null; rc=$?
  windows=$(xdotool search --name "^$caption\$" 2>/dev/null | wc -l)
  if [ $rc = 0 ] && [ "$windows" = 1 ] && [ $(($(date +%s) - second_start)) -lt 30 ]; then
    pass "a second keluflash.exe ends at once with 0 and opens no window"
  else
    fail "second instance: exit $rc, $windows windows"
  fi

  click "$caption" "&Exit"
  if timeout 30 tail --pid="$launcher" -f /dev/null; then
    wait "$launcher"; rc=$?
    [ $rc = 0 ] && pass "Exit closes the window; exit code 0" || fail "keluflash.exe ended with $rc"
  else
    fail "Exit did not close the window"
    kill "$launcher" 2>/dev/null
  fi
fi

# --- keluflash.exe without WNASPI32.DLL --------------------------------------
# Wine has a WNASPI32.DLL of its own, so ours is not just left out: for this
# one start the library is disabled, and loading it from the system directory
# fails as on a Windows 98 without an ASPI layer. Nothing else changes: the
# program is told Windows 98 as before and chooses ASPI itself.
(cd "$work" && WINEDLLOVERRIDES=wnaspi32=d exec wine "$window") >"$work/no-aspi.log" 2>&1 &
launcher=$!
started=$(date +%s)
box=$(wait_window KELUFlash "$start_limit")
if [ -z "$box" ]; then
  running=ended
  kill -0 "$launcher" 2>/dev/null && running=running
  shown=$(for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do xdotool getwindowname "$id"; done |
          paste -sd '|')
  fail "keluflash.exe without WNASPI32.DLL showed no message box \"KELUFlash\" in $(($(date +%s) - started)) s" \
       "(the program: $running; windows shown: $shown; its output: $(tr -d '\r' <"$work/no-aspi.log" | tail -3))"
  kill "$launcher" 2>/dev/null
else
  echo "the message box came after $(($(date +%s) - started)) s"
  sleep 1  # let it fill in
  text=$(read_window text KELUFlash Static)
  buttons=$(read_window text KELUFlash Button)
  if [ "$text" = "WNASPI32.DLL not found" ] && [ "$buttons" = OK ] &&
     [ -z "$(xdotool search --name "^$caption\$" 2>/dev/null)" ]; then
    pass "without WNASPI32.DLL: \"WNASPI32.DLL not found\" with OK, before the window"
  else
    fail "the message box says \"$text\" with the buttons \"$buttons\" (or the window came first)"
  fi
  click KELUFlash OK && gone KELUFlash 30 || fail "OK did not close the message box"
  wid=$(wait_window "$caption" "$start_limit")
  if [ -z "$wid" ]; then
    fail "after OK keluflash.exe showed no window \"$caption\""
    kill "$launcher" 2>/dev/null
  else
    sleep 2  # let it paint
    state="items=[$(read_window items "$caption")] panel=[$(read_window text "$caption" msctls_statusbar32)]"
    state+=" lines=[$(list_lines)] open=$(read_window enabled "$caption" "&Open")"
    state+=" start=$(read_window enabled "$caption" "&Start") exit=$(read_window enabled "$caption" "&Exit")"
    if [ "$state" = "items=[] panel=[] lines=[] open=enabled start=disabled exit=enabled" ]; then
      pass "then the window: no drive, nothing in the status bar or the list, Start disabled, Open and Exit enabled"
    else
      fail "the window without a drive: $state"
    fi
    dialog=
    if click "$caption" "&Open"; then dialog=$(wait_window Open 30); fi
    if [ -n "$dialog" ]; then
      sleep 1
      xdotool key Escape
      if gone Open 30 && [ -z "$(list_lines)" ]; then
        pass "Open shows its dialog; cancelled, it adds no line"
      else
        fail "the cancelled Open dialog stayed or left a line: $(list_lines)"
      fi
    else
      fail "Open without a drive showed no file dialog"
    fi
    click "$caption" "&Exit"
    if timeout 30 tail --pid="$launcher" -f /dev/null; then
      wait "$launcher"; rc=$?
      [ $rc = 0 ] && pass "Exit ends it; exit code 0" || fail "keluflash.exe without WNASPI32.DLL ended with $rc"
    else
      fail "Exit did not close the window without a drive"
      kill "$launcher" 2>/dev/null
    fi
  fi
fi

# --- keluflash.exe at 120 and 144 DPI -----------------------------------------
for dpi in 120 144; do
  "$tools/at_dpi.sh" "$dpi" || { fail "LogPixels $dpi"; continue; }
  (cd "$work" && exec wine "$window") >"$work/window-$dpi.log" 2>&1 &
  launcher=$!
  wid=$(wait_window "$caption" "$start_limit")
  if [ -z "$wid" ]; then
    fail "keluflash.exe at $dpi DPI showed no window"
    kill "$launcher" 2>/dev/null
    continue
  fi
  sleep 2  # let it paint
  picture=${screenshot%.png}-${dpi}dpi.png
  shoot "$wid" "$picture" && pass "screenshot at $dpi DPI in $picture" || fail "no screenshot at $dpi DPI"
  # The whole window grew with the DPI: its client area alone is 267 x 292 scaled.
  geometry=$(xdotool getwindowgeometry "$wid" 2>/dev/null | sed -n 's/^ *Geometry: //p')
  width=${geometry%x*}
  height=${geometry#*x}
  if [ "${width:-0}" -gt $((267 * dpi / 96)) ] && [ "${height:-0}" -gt $((292 * dpi / 96)) ]; then
    pass "at $dpi DPI the window is ${width}x$height"
  else
    fail "at $dpi DPI the window is ${width:-?}x${height:-?}, smaller than its client area scaled"
  fi
  click "$caption" "&Exit"
  if timeout 30 tail --pid="$launcher" -f /dev/null; then
    wait "$launcher"
  else
    fail "Exit did not close the window at $dpi DPI"
    kill "$launcher" 2>/dev/null
  fi
done
"$tools/at_dpi.sh" 96 || fail "LogPixels 96"

test_end "$passed passed, none failed"
