#!/usr/bin/env bash
# Every function a Windows program imports must exist on the oldest Windows
# it runs on:   tools/windows/check_imports.sh [--own-slots SLOT_LIST] ALLOWED_LIST EXE...
# ALLOWED_LIST names that Windows in a "# system: NAME" line and holds
# "DLL function" lines (DLL names in any case; # starts a comment). A
# function that is not on the list fails the check: before it goes on the
# list, make sure that Windows has it (a missing one makes the program fail
# to start there with "entry point not found", or, delay-loaded, stop it at
# its first call). Imports by ordinal count as not allowed.
# The imports are those of the import table and the delay-loaded ones: the
# delay-import directory's, and the descriptors GNU ld links in without
# naming them in that directory, found by their shape.
# An import slot (__imp_NAME) the program defines itself instead of taking
# it from an import library is named, and must be on SLOT_LIST ("PROGRAM
# SYMBOL" lines, PROGRAM "*" for every program; own-import-slots.txt beside
# this script unless given). That needs the program's symbol table: of a
# stripped program the check says it cannot see them.
set -euo pipefail
slots_list=$(cd "$(dirname "$0")" && pwd)/own-import-slots.txt
if [ "${1:-}" = --own-slots ]; then
  slots_list=$2
  shift 2
fi
allowed=$1
shift
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
system=$(sed -n 's/^# system: *//p' "$allowed" | head -1)
if [ -z "$system" ]; then
  echo "check_imports: $allowed names no system (a \"# system: NAME\" line)" >&2
  exit 1
fi
list=$(sed -e 's/#.*//' "$allowed" | awk 'NF == 2 {print toupper($1) " " $2}' | sort -u)
[ -r "$slots_list" ] || { echo "check_imports: cannot read $slots_list" >&2; exit 1; }

# The import table: "DLL function" lines. objdump -p: "DLL Name: KERNEL32.dll",
# a heading, then one "<tab>vma<tab> hint  name" row per function (an import
# by ordinal has no name) until a blank line.
table_imports() {
  "$objdump" -p "$1" | awk -F'\t' '
    /^\tDLL Name: / {split($2, part, ": "); dll = toupper(part[2]); next}
    dll != "" && NF >= 3 && $2 ~ /^[0-9a-f]+$/ {
      n = split($3, field, " +")
      name = field[n]
      if (n < 2 || name !~ /^[A-Za-z_]/) name = "#ordinal-" field[2]
      print dll " " name
      next
    }
    /^$/ {dll = ""}'
}

# The delay-loaded imports: "DLL function" lines. objdump names the
# delay-import directory in the header but does not read it, so the image's
# sections are read here as 32-bit words by their RVA. A descriptor is eight
# words: attributes (1: the others are RVAs), DLL name, module handle, IAT,
# INT, bound IAT, unload IAT, time stamp; the INT lists the functions (hint
# and name, or an ordinal with the top bit set) up to a 0.
delay_imports() {
  local exe=$1 header base image directory directory_size
  header=$("$objdump" -p "$exe")
  base=$(awk '$1 == "ImageBase" {print $2}' <<<"$header")
  image=$(awk '$1 == "SizeOfImage" {print $2}' <<<"$header")
  directory=$(awk '$1 == "Entry" && $2 == "d" {print $3}' <<<"$header")
  directory_size=$(awk '$1 == "Entry" && $2 == "d" {print $4}' <<<"$header")
  "$objdump" -h "$exe" | awk '
    $1 ~ /^[0-9]+$/ && NF >= 6 {section = $2 " " $3 " " $4 " " $6; next}
    section != "" && /CONTENTS/ && section !~ /^\.debug/ {print section}
    {section = ""}' |
    while read -r _ size vma offset; do
      echo "@ $((0x$vma - 0x$base))"
      od -An -v -tu4 -j $((0x$offset)) -N $(((0x$size + 3) / 4 * 4)) "$exe"
    done |
    awk -v base=$((0x$base)) -v image=$((0x$image)) -v directory=$((0x${directory:-0})) \
      -v directory_end=$((0x${directory:-0} + 0x${directory_size:-0})) '
      $1 == "@" {at = $2; next}
      {for (i = 1; i <= NF; i++) {word[at] = $i; at += 4}}
      # Reading a word that is not there must not add it: the END loop walks them.
      function at_rva(rva) { return rva in word ? word[rva] : -1 }
      function byte(rva) {
        if (!((rva - rva % 4) in word)) return -1
        return int(word[rva - rva % 4] / 2 ^ (8 * (rva % 4))) % 256
      }
      # The NUL-terminated name at rva; "" when unreadable or not printable.
      function text(rva,    s, b, n) {
        for (n = 0; n < 256; n++) {
          b = byte(rva + n)
          if (b == 0) return s
          if (b < 33 || b > 126) return ""
          s = s sprintf("%c", b)
        }
        return ""
      }
      function inside(rva) { return rva > 0 && rva < image && rva % 4 == 0 && rva in word }
      # The INT at rva as "DLL function" lines; "" when it is not one.
      function functions(dll, rva,    out, entry, name, n) {
        if (!inside(rva)) return ""
        for (n = 0; n < 65536; n++) {
          entry = at_rva(rva + 4 * n)
          if (entry < 0) return ""
          if (entry == 0) return out
          if (entry >= 2 ^ 31) name = "#ordinal-" entry % 65536
          else if ((name = text(entry - rel + 2)) == "") return ""
          out = out dll " " name "\n"
        }
        return ""
      }
      # The descriptor at rva; its lines, or "" when it is not one.
      function descriptor(rva,    dll) {
        rel = word[rva] == 0 ? base : 0  # attributes 0: addresses, not RVAs
        dll = text(at_rva(rva + 4) - rel)
        if (dll == "") return ""
        return functions(toupper(dll), at_rva(rva + 16) - rel)
      }
      END {
        for (rva = directory; directory > 0 && rva + 32 <= directory_end; rva += 32) {
          if (word[rva] == 0 && at_rva(rva + 4) == 0 && at_rva(rva + 16) == 0) break
          found = descriptor(rva)
          if (found == "") found = sprintf("? unreadable delay-import descriptor at RVA 0x%x\n", rva)
          printf "%s", found
          seen[rva] = 1
        }
        # GNU ld leaves its descriptors out of the directory: each is
        # attributes 1, then RVAs of a DLL name, module handle, IAT and INT.
        for (rva in word) {
          if (word[rva] != 1 || rva in seen) continue
          if (!inside(at_rva(rva + 8)) || !inside(at_rva(rva + 12))) continue
          dll = text(at_rva(rva + 4))
          if (dll !~ /^[A-Za-z0-9_.-]+\.[Dd][Ll][Ll]$/) continue
          rel = 0
          printf "%s", functions(toupper(dll), at_rva(rva + 16))
        }
      }'
}

# The import slots the program defines outside its import section
# (.idata), one symbol a line; "-" without a symbol table.
own_slots() {
  local exe=$1 idata symbols
  symbols=$("$objdump" -t "$1")
  if ! grep -q '^\[' <<<"$symbols"; then
    echo -
    return
  fi
  # objdump -h numbers sections from 0, the symbol table from 1.
  idata=$("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ && $2 == ".idata" {print $1 + 1}')
  awk -v idata="${idata:-0}" '
    /^\[/ && $NF ~ /^__imp_/ && match($0, /\(sec +-?[0-9]+\)/) {
      section = substr($0, RSTART + 4, RLENGTH - 5) + 0
      if (section > 0 && section != idata) print $NF
    }' <<<"$symbols" | sort -u
}

failed=0
for exe in "$@"; do
  program=$(basename "$exe")
  table=$(table_imports "$exe" | sort -u)
  if [ -z "$table" ]; then
    echo "check_imports: no imports read from $exe" >&2
    exit 1
  fi
  delayed=$(delay_imports "$exe" | sort -u)
  imports=$(printf '%s\n%s\n' "$table" "$delayed" | grep . | sort -u)
  extra=$(comm -23 <(echo "$imports") <(echo "$list"))
  if [ -n "$extra" ]; then
    echo "FAILED: $program imports functions that are not on $(basename "$allowed") (not known to exist on $system):" >&2
    while read -r line; do
      if grep -qxF -- "$line" <<<"$delayed"; then echo "  $line (delay-loaded)"; else echo "  $line"; fi
    done <<<"$extra" >&2
    failed=1
  else
    echo "ok: $program: $(wc -l <<<"$imports") imports ($(grep -c . <<<"$delayed" || true) delay-loaded), all on $(basename "$allowed")"
  fi

  slots=$(own_slots "$exe")
  if [ "$slots" = - ]; then
    echo "note: $program has no symbol table: the import slots it fills itself cannot be seen in it"
    continue
  fi
  meant=$(sed -e 's/#.*//' "$slots_list" | awk -v p="$program" 'NF == 2 && ($1 == p || $1 == "*") {print $2}' | sort -u)
  unmeant=$(comm -23 <(echo "$slots") <(echo "$meant") | grep . || true)
  if [ -n "$unmeant" ]; then
    echo "FAILED: $program fills import slots itself that are not on $(basename "$slots_list"):" >&2
    sed 's/^/  /' <<<"$unmeant" >&2
    failed=1
  elif [ -n "$slots" ]; then
    echo "ok: $program fills these import slots itself, as $(basename "$slots_list") says: $(tr '\n' ' ' <<<"$slots")"
  fi
done
exit $failed
