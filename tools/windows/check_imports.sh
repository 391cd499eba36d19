#!/usr/bin/env bash
# Every function the Windows programs import must exist on Windows XP SP3:
#   tools/windows/check_imports.sh ALLOWED_LIST EXE...
# ALLOWED_LIST holds "DLL function" lines (DLL names in any case; # starts a
# comment). A function that is not on the list fails the check: before it
# goes on the list, make sure XP SP3 has it (a function that Windows added in
# Vista or later makes the program fail to start on XP with "entry point not
# found"). Imports by ordinal count as not allowed.
set -euo pipefail
allowed=$1
shift
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
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
    echo "FAILED: $(basename "$exe") imports functions that are not on $(basename "$allowed") (not known to exist on Windows XP SP3):" >&2
    sed 's/^/  /' <<<"$extra" >&2
    failed=1
  else
    echo "ok: $(basename "$exe"): $(wc -l <<<"$imports") imports, all on $(basename "$allowed")"
  fi
done
exit $failed
