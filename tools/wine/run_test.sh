#!/usr/bin/env bash
# Runs one Windows GoogleTest program under Wine and passes only when it ran
# to its end: exit code 0, GoogleTest's "[  PASSED  ]" line, no
# "[  FAILED  ]" line and no "[  SKIPPED ]" line. (Wine can end with 0 when a
# program did not start; a test that skips because the prefix lacks what it
# needs, such as a CD-ROM drive letter, has tested nothing.)
# Needs WINEPREFIX set to a prefix that tools/wine/prefix.sh prepared.
set -uo pipefail
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run_test.sh: WINEPREFIX must name a prepared prefix (./run wine-test prepares one)" >&2
  exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
program=$1; shift
output=$(mktemp)
trap 'rm -f "$output"' EXIT
# A program that waits for an answer nobody gives (a message box) is ended.
timeout "${KELUFLASH_WINE_TEST_TIMEOUT:-600}" wine "$program" "$@" >"$output" 2>&1
rc=$?
tr -d '\r' <"$output"
if [ $rc != 0 ]; then
  echo "run_test.sh: $(basename "$program") ended with exit code $rc" >&2
  exit 1
fi
if ! tr -d '\r' <"$output" | grep -q '^\[  PASSED  \]'; then
  echo "run_test.sh: $(basename "$program") printed no [  PASSED  ] line" >&2
  exit 1
fi
if tr -d '\r' <"$output" | grep -q '^\[  FAILED  \]'; then
  echo "run_test.sh: $(basename "$program") printed a [  FAILED  ] line" >&2
  exit 1
fi
if tr -d '\r' <"$output" | grep -q '^\[  SKIPPED \]'; then
  echo "run_test.sh: $(basename "$program") skipped tests (the prefix lacks what they need)" >&2
  exit 1
fi
