#!/usr/bin/env bash
# A fixture of the layer rule is refused, for the reason expected:
#   expect_refusal.sh CHECK FIXTURE_ROOT 'file:line: text it must print'
set -uo pipefail
check=$1 root=$2 expected=$3
out=$("$check" "$root" 2>&1); rc=$?
echo "$out"
if [ $rc != 1 ] || ! grep -qF -- "$expected" <<<"$out"; then
  echo "FAILED: expected exit 1 and the line: $expected (exit $rc)"
  exit 1
fi
