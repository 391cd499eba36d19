#!/usr/bin/env bash
# The import checks refuse a program that needs a newer Windows than their
# list's, naming the function, whether the program imports it or delay-loads
# it, and a program that fills an import slot itself that the slot list does
# not name; they pass the programs we ship:
#   import_check_test.sh CHECK_IMPORTS LIST_DIR VISTA_EXE WINDOWS2000_EXE WINDOWS2000_DELAY_EXE WINDOW_EXE CLI_EXE
set -uo pipefail
check=$1 lists=$2 vista=$3 windows2000=$4 delayed=$5 window=$6 cli=$7
. "$(dirname "$0")/../support/test_lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
xp=$lists/xp-sp3-imports.txt win98=$lists/win98-imports.txt slots=$lists/own-import-slots.txt
# The XP list with what the delay-load helper itself imports (XP has both),
# and that list without GetFileSizeEx.
{ cat "$xp"; echo "KERNEL32.DLL LocalAlloc"; echo "KERNEL32.DLL RaiseException"; } >"$work/xp-and-delay-helper.txt"
grep -v ' GetFileSizeEx$' "$work/xp-and-delay-helper.txt" >"$work/without-GetFileSizeEx.txt"
# The slot list without one of the window's own slots.
grep -v '^keluflash\.exe  *__imp__rand_s\b' "$slots" >"$work/without-rand_s.txt"
cmp -s "$slots" "$work/without-rand_s.txt" && fail "own-import-slots.txt names no __imp__rand_s of keluflash.exe"
# list | program | exit | a line the output must hold | the slot list (own-import-slots.txt if empty)
cases=(
  "$xp|$vista|1|KERNEL32.DLL GetTickCount64|"
  "$win98|$windows2000|1|KERNEL32.DLL GetFileSizeEx|"
  "$xp|$windows2000|0|all on xp-sp3-imports.txt|"
  "$win98|$delayed|1|KERNEL32.DLL GetFileSizeEx (delay-loaded)|"
  "$work/xp-and-delay-helper.txt|$delayed|0|(1 delay-loaded), all on xp-and-delay-helper.txt|"
  "$work/without-GetFileSizeEx.txt|$delayed|1|KERNEL32.DLL GetFileSizeEx (delay-loaded)|"
  "$win98|$window|0|all on win98-imports.txt|"
  "$xp|$window|0|all on xp-sp3-imports.txt|"
  "$xp|$window|0|as own-import-slots.txt says: |"
  "$xp|$window|1|  __imp__rand_s|$work/without-rand_s.txt"
  "$xp|$cli|0|all on xp-sp3-imports.txt|"
)
for case in "${cases[@]}"; do
  IFS='|' read -r list exe want text own <<<"$case"
  what="$(basename "$list"), $(basename "$exe")${own:+, $(basename "$own")}"
  out=$("$check" --own-slots "${own:-$slots}" "$list" "$exe" 2>&1); rc=$?
  if [ $rc = "$want" ] && grep -qF -- "$text" <<<"$out"; then
    pass "$what: exit $rc"
  else
    fail "$what: exit $rc, not $want with \"$text\": $out"
  fi
done
test_end "the import checks refuse what they must and pass the programs"
