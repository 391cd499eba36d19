#!/usr/bin/env bash
# The DPI Wine gives the programs of WINEPREFIX (LogPixels, which a program
# reads when it starts; 96 when unset):
#   tools/wine/at_dpi.sh DPI               sets it
#   tools/wine/at_dpi.sh DPI COMMAND...    runs COMMAND at DPI, then sets 96 again
# The setting holds for every program the prefix starts meanwhile: a test that
# runs at another DPI runs alone.
set -uo pipefail
: "${WINEPREFIX:?WINEPREFIX must name a prepared prefix}"
# Both keys in one import: each Wine program started costs seconds under emulation.
set_dpi() {
  local settings=$WINEPREFIX/keluflash-dpi.reg
  # The desktop's own (window metrics, GetDeviceCaps) and the fonts'.
  printf 'REGEDIT4\n\n[%s]\n"LogPixels"=dword:%08x\n\n[%s]\n"LogPixels"=dword:%08x\n' \
    'HKEY_CURRENT_USER\Control Panel\Desktop' "$1" \
    'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' "$1" >"$settings"
  # Its Windows name on drive Z:, which is / (no winepath: one program fewer).
  WINEDEBUG=-all wine reg import "Z:${settings//\//\\}" >/dev/null 2>&1
}
dpi=$1
shift
set_dpi "$dpi" || { echo "at_dpi.sh: Wine did not take LogPixels $dpi" >&2; exit 1; }
[ $# = 0 ] && exit 0
# The command learns the DPI it is meant to see (a test checks that it does).
KELUFLASH_WINE_DPI=$dpi "$@"
rc=$?
set_dpi 96 || { echo "at_dpi.sh: Wine did not take LogPixels 96 again" >&2; exit 1; }
exit $rc
