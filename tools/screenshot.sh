#!/usr/bin/env bash
# A screenshot of keluflash-demo after a finished update, as a person sees it
# on a desktop: a virtual X display (Xvfb), a small window manager for the
# title bar (openbox) and ImageMagick's import for the picture.
#   tools/screenshot.sh BUILD_DIR OUTPUT.png
set -euo pipefail
BUILD=$1
OUT=$2
DEMO=$BUILD/app/qt/demo/keluflash-demo
[ -x "$DEMO" ] || { echo "screenshot: $DEMO is not built" >&2; exit 1; }

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# A display number nobody uses.
NUM=90
while [ -e "/tmp/.X$NUM-lock" ] || [ -e "/tmp/.X11-unix/X$NUM" ]; do NUM=$((NUM + 1)); done
export DISPLAY=:$NUM
Xvfb "$DISPLAY" -screen 0 1024x640x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# Openbox with a title bar of icon, caption, minimise and close, in a small
# font, as the window asks for.
cat >"$WORK/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme>
    <name>Clearlooks</name>
    <titleLayout>NLIC</titleLayout>
    <font place="ActiveWindow"><name>Liberation Sans</name><size>8</size><weight>Bold</weight></font>
    <font place="InactiveWindow"><name>Liberation Sans</name><size>8</size><weight>Bold</weight></font>
  </theme>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
</openbox_config>
XML
openbox --config-file "$WORK/rc.xml" >"$WORK/openbox.log" 2>&1 &
PIDS+=($!)
sleep 1

# The demo flashes its first drive (method A) and reports when it is done.
mkdir -m 700 "$WORK/runtime"
XDG_RUNTIME_DIR=$WORK/runtime "$DEMO" --run ZXR-0131K.kfs >"$WORK/demo.out" 2>"$WORK/demo.err" &
PIDS+=($!)
for _ in $(seq 600); do grep -q '^finished' "$WORK/demo.out" && break; sleep 0.1; done
grep -q '^finished' "$WORK/demo.out" || { echo "screenshot: the demo did not finish" >&2; cat "$WORK/demo.err" >&2; exit 1; }
sleep 0.5

WINDOW=$(xdotool search --name 'KELU Flash' | head -1)
mkdir -p "$(dirname "$OUT")"
import -window "$WINDOW" -frame "$OUT"
echo "screenshot: $OUT"
