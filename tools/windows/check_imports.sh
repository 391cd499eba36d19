#!/usr/bin/env bash
# Every function a Windows program imports must exist on the oldest Windows
# it runs on:   tools/windows/check_imports.sh ALLOWED_LIST EXE...
# ALLOWED_LIST names that Windows in a "# system: NAME" line and holds
# "DLL function" lines (DLL names in any case; # starts a comment). A
# function that is not on the list fails the check: before it goes on the
# list, make sure that Windows has it (a missing one makes the program fail
# to start there with "entry point not found"). Imports by ordinal count as
# not allowed.
set -euo pipefail
allowed=$1
shift
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
system=$(sed -n 's/^# system: *//p' "$allowed" | head -1)
if [ -z "$system" ]; then
  echo "check_imports: $allowed names no system (a \"# system: NAME\" line)" >&2
  exit 1
fi
list=$(sed -e 's/#.*//' "$allowed" | awk 'NF == 2 {print toupper($1) " " $2}' | sort -u)
failed=0
for exe in "$@"; do
  # objdump -p: "DLL Name: KERNEL32.dll" then "  hint  name" rows until a blank line.
  # objdump -p: "DLL Name: KERNEL32.dll", a heading, then one "<tab>vma<tab> hint  name"
  # row per function (an import by ordinal has no name) until a blank line.
  imports=$("$objdump" -p "$exe" | awk -F'\t' '
    /^\tDLL Name: / {split($2, part, ": "); dll = toupper(part[2]); next}
    dll != "" && NF >= 3 && $2 ~ /^[0-9a-f]+$/ {
      n = split($3, field, " +")
      name = field[n]
      if (n < 2 || name !~ /^[A-Za-z_]/) name = "#ordinal-" field[2]
      print dll " " name
      next
    }
    /^$/ {dll = ""}' | sort -u)
  if [ -z "$imports" ]; then
    echo "check_imports: no imports read from $exe" >&2
    exit 1
  fi
  extra=$(comm -23 <(echo "$imports") <(echo "$list"))
  if [ -n "$extra" ]; then
    echo "FAILED: $(basename "$exe") imports functions that are not on $(basename "$allowed") (not known to exist on $system):" >&2
    sed 's/^/  /' <<<"$extra" >&2
    failed=1
  else
    echo "ok: $(basename "$exe"): $(wc -l <<<"$imports") imports, all on $(basename "$allowed")"
  fi
done
exit $failed
