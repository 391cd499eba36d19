#!/usr/bin/env bash
# The Windows programs as a person starts them, under Wine on a virtual display:
#   tools/wine/program_test.sh BUILD_DIR SCREENSHOT.png
# Needs WINEPREFIX (prepared by prepare_prefix.sh) and DISPLAY (an Xvfb). The
# prefix shows both programs Windows 98, so they take the ASPI path to the
# simulated WNASPI32.DLL: the drive they list is the simulated one.
#  1. keluflash-cli.exe lists that drive and flashes a demo image into it.
#  2. keluflash.exe opens its window (found by its caption), is screenshotted,
#     a second instance ends at once with 0 and no window, and Exit closes it.
# Nothing here answers the restart question with OK: the window is only looked at.
set -uo pipefail
build=$(cd "$1" && pwd)
screenshot=$2
: "${WINEPREFIX:?}" "${DISPLAY:?}"
export WINEDEBUG=-all KELUFLASH_SIM_PROGRAMMING_MS=300
cli=$build/app/cli/keluflash-cli.exe
window=$build/app/win32/keluflash.exe
caption="KELU Flash V1.0B6 Trial 0.4"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

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

# --- keluflash.exe -------------------------------------------------------------
wine "$window" >"$work/window.log" 2>&1 &
launcher=$!
wid=$(timeout 60 xdotool search --sync --name "^$caption\$" 2>/dev/null | head -1)
if [ -z "$wid" ]; then
  fail "keluflash.exe showed no window \"$caption\""
  kill "$launcher" 2>/dev/null
else
  pass "keluflash.exe opened its window"
  sleep 2  # let it paint
  mkdir -p "$(dirname "$screenshot")"
  if xwd -id "$wid" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot" && [ -s "$screenshot" ]; then
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

  # Exit: the button's middle, from the window's frame (client 267x292).
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  border=$(((WIDTH - 267) / 2))
  top=$((HEIGHT - 292 - border))
  xdotool mousemove --window "$wid" $((border + 161 + 37)) $((top + 160 + 12)) click 1
  if timeout 30 tail --pid="$launcher" -f /dev/null; then
    wait "$launcher"; rc=$?
    [ $rc = 0 ] && pass "Exit closes the window; exit code 0" || fail "keluflash.exe ended with $rc"
  else
    fail "Exit did not close the window"
    kill "$launcher" 2>/dev/null
  fi
fi

echo "$passed passed, $failed failed"
[ $failed = 0 ]
