#!/usr/bin/env bash
# The import check refuses a program that needs Windows Vista, and names the
# function:   import_check_test.sh CHECK_IMPORTS ALLOWED_LIST VISTA_EXE OK_EXE
set -uo pipefail
check=$1 list=$2 vista=$3 ok=$4
out=$("$check" "$list" "$vista" 2>&1); rc=$?
if [ $rc != 1 ] || ! grep -q 'KERNEL32.DLL GetTickCount64' <<<"$out"; then
  echo "FAILED: the check let GetTickCount64 pass (exit $rc): $out"
  exit 1
fi
out=$("$check" "$list" "$ok" 2>&1) || { echo "FAILED: the check refused $(basename "$ok"): $out"; exit 1; }
echo "the import check refuses GetTickCount64 and passes $(basename "$ok")"
