# shellcheck shell=bash
# The shell tests' one way to report, sourced by each:
#   . "$(dirname "$0")/../support/test_lib.sh"
# pass and fail print a line each and count it; test_end ends the test.
passed=0
failed=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
# test_end SUMMARY: prints SUMMARY and exits 0 when nothing failed, else says
# how many checks failed and exits 1 (an exit status of the count itself
# would read 256 failures as success).
test_end() {
  if [ "$failed" = 0 ]; then
    echo "$*"
    exit 0
  fi
  echo "FAILED: $failed check(s)"
  exit 1
}
