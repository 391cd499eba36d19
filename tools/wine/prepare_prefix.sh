#!/usr/bin/env bash
# Prepares a fresh 32-bit Wine prefix for the Windows tests:
#   tools/wine/prepare_prefix.sh PREFIX BUILD_DIR
# - our simulated WNASPI32.DLL in the system directory, preferred over Wine's own;
# - the programs that test the ASPI path see Windows 98 (GetVersionExA then
#   reports no NT family), every other program the NT family;
# - drive letters D: and E: are CD-ROM drives (pass-through and drive letters);
# - Wine draws the window frames itself (there is no window manager on the
#   virtual display), so a screenshot shows caption and borders.
set -euo pipefail
prefix=$1
build=$2
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installer dialogs in a prefix nobody looks at.
export WINEDLLOVERRIDES="mscoree,mshtml="

wineboot -i >/dev/null 2>&1
system32=$WINEPREFIX/drive_c/windows/system32
if [ ! -f "$system32/kernel32.dll" ]; then
  echo "prepare_prefix.sh: wineboot did not set up $WINEPREFIX" >&2
  exit 1
fi
cp "$build/tests/win32/wnaspi32.dll" "$system32/wnaspi32.dll"
# Debian's 32-bit Wine does not find its own fonts (Marlett draws the caption
# buttons, Tahoma the dialogs); from the prefix's font folder it does.
# Without them the caption buttons read "0 1 r": fonts-wine must be installed.
if [ ! -f /usr/share/wine/fonts/marlett.ttf ]; then
  echo "prepare_prefix.sh: /usr/share/wine/fonts/marlett.ttf is missing (install fonts-wine)" >&2
  exit 1
fi
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

mkdir -p "$WINEPREFIX/cdrom-d" "$WINEPREFIX/cdrom-e"
ln -sfn "$WINEPREFIX/cdrom-d" "$WINEPREFIX/dosdevices/d:"
ln -sfn "$WINEPREFIX/cdrom-e" "$WINEPREFIX/dosdevices/e:"

settings=$WINEPREFIX/keluflash-settings.reg
{
  echo 'REGEDIT4'
  echo
  echo '[HKEY_CURRENT_USER\Software\Wine\DllOverrides]'
  echo '"wnaspi32"="native"'
  for program in aspi_end_to_end_test.exe keluflash.exe keluflash-cli.exe; do
    echo
    echo "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\$program]"
    echo '"Version"="win98"'
  done
  echo
  echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
  echo '"Managed"="N"'
  echo
  echo '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]'
  echo '"d:"="cdrom"'
  echo '"e:"="cdrom"'
} >"$settings"
wine reg import "$(winepath -w "$settings")" >/dev/null 2>&1
# The mount manager reads the drive types when it starts.
wineserver -k || true
wineserver -w || true
