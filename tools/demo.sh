#!/usr/bin/env bash
# The demo: for now, the simulated drives as keluflash-cli lists them.
set -euo pipefail
BUILD=$1
"$BUILD/app/cli/keluflash-cli" --simulate list
