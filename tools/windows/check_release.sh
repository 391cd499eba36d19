#!/usr/bin/env bash
# What a Windows user downloads: keluflash-VERSION-win32.zip holds exactly the
# two programs, stripped, README.txt, LICENSE.txt and THIRD-PARTY.txt in one folder, and the
# programs load with nothing beside them (only system DLLs, every function on
# the XP SP3 list; the window also every function on the Windows 98 list).
#   tools/windows/check_release.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=keluflash-$version-win32
zip=$build/$name.zip
[ -s "$zip" ] || { echo "FAILED: no $zip" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

expected=$(printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/THIRD-PARTY.txt" "$name/keluflash-cli.exe" \
                          "$name/keluflash.exe")
found=$(cd "$work" && find . -type f | sed 's|^\./||' | sort)
[ "$found" = "$expected" ] || fail "the zip holds"$'\n'"$found"$'\n'"instead of"$'\n'"$expected"

for exe in keluflash.exe keluflash-cli.exe; do
  file=$work/$name/$exe
  [ -f "$file" ] || continue
  if "$objdump" -h "$file" | grep -q '\.debug'; then fail "$exe has debug sections"; fi
  if [ "$("$objdump" -t "$file" | grep -c '^\[')" != 0 ]; then fail "$exe has a symbol table"; fi
done
# The window's header asks for Windows 4.0 (95/98/Me and NT 4 start it).
header=$("$objdump" -p "$work/$name/keluflash.exe" 2>/dev/null || true)
for field in MajorOSystemVersion MajorSubsystemVersion; do
  value=$(awk -v f="$field" '$1 == f {print $2}' <<<"$header")
  [ "$value" = 4 ] || fail "keluflash.exe's $field is ${value:-missing}, not 4"
done
for field in MinorOSystemVersion MinorSubsystemVersion; do
  value=$(awk -v f="$field" '$1 == f {print $2}' <<<"$header")
  [ "$value" = 0 ] || fail "keluflash.exe's $field is ${value:-missing}, not 0"
done
grep -q "XP SP3" "$work/$name/README.txt" || fail "README.txt names no supported Windows"
grep -q "Windows 98 Second Edition and Me" "$work/$name/README.txt" || fail "README.txt does not say where the window runs"
grep -q "MIT License" "$work/$name/LICENSE.txt" || fail "LICENSE.txt is not the licence"
grep -q "GCC Runtime Library Exception" "$work/$name/THIRD-PARTY.txt" || fail "THIRD-PARTY.txt lacks the runtime's notice"
"$root/tools/windows/check_imports.sh" "$root/tools/windows/xp-sp3-imports.txt" \
  "$work/$name/keluflash.exe" "$work/$name/keluflash-cli.exe" || failed=1
"$root/tools/windows/check_imports.sh" "$root/tools/windows/win98-imports.txt" "$work/$name/keluflash.exe" || failed=1
[ $failed = 0 ] && echo "ok: $name.zip: $(tr '\n' ' ' <<<"$found")"
exit $failed
