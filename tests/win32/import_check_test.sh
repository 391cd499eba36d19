#!/usr/bin/env bash
# The import checks refuse a program that needs a newer Windows than their
# list's, naming the function, and pass the programs we ship:
#   import_check_test.sh CHECK_IMPORTS LIST_DIR VISTA_EXE WINDOWS2000_EXE WINDOW_EXE CLI_EXE
set -uo pipefail
check=$1 lists=$2 vista=$3 windows2000=$4 window=$5 cli=$6
. "$(dirname "$0")/../support/test_lib.sh"
# list | program | exit | a line the output must hold
cases=(
  "xp-sp3-imports.txt|$vista|1|KERNEL32.DLL GetTickCount64"
  "win98-imports.txt|$windows2000|1|KERNEL32.DLL GetFileSizeEx"
  "xp-sp3-imports.txt|$windows2000|0|all on xp-sp3-imports.txt"
  "win98-imports.txt|$window|0|all on win98-imports.txt"
  "xp-sp3-imports.txt|$window|0|all on xp-sp3-imports.txt"
  "xp-sp3-imports.txt|$cli|0|all on xp-sp3-imports.txt"
)
for case in "${cases[@]}"; do
  IFS='|' read -r list exe want text <<<"$case"
  out=$("$check" "$lists/$list" "$exe" 2>&1); rc=$?
  if [ $rc = "$want" ] && grep -qF "$text" <<<"$out"; then
    pass "$list, $(basename "$exe"): exit $rc"
  else
    fail "$list, $(basename "$exe"): exit $rc, not $want with \"$text\": $out"
  fi
done
test_end "the import checks refuse what they must and pass the programs"
