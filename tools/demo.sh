#!/usr/bin/env bash
# The demo: a demo image for a simulated drive, flashed and verified by
# keluflash-cli on the virtual clock (a two-minute ready wait takes no time).
# Nothing here touches a real drive or restarts the machine. Both outputs of
# each run go through one pipe, so its lines appear in the order it wrote them.
set -euo pipefail
BUILD=$1
CLI="$BUILD/app/cli/keluflash-cli"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

echo "== the simulated drives"
"$CLI" --simulate list 2>&1

for profile in default method-b; do
  echo
  echo "== --simulate=$profile: demo image, flash, verification"
  "$CLI" --simulate="$profile" demo-image "$WORK/$profile.kfs" 2>&1
  "$CLI" --simulate="$profile" flash --yes "$WORK/$profile.kfs" 2>&1 | tee "$WORK/$profile.log"
  grep -qx 'OK:Verify ok!!' "$WORK/$profile.log"
done

echo
echo "demo: both simulated drives flashed and verified"
