#!/usr/bin/env bash
# Every library whose code ends up inside the shipped programs has its notice
# in the file that goes out with them: the headers each program's objects
# were compiled with (header-only libraries, the C++ library's templates)
# and the libraries they were linked with, traced back to the Debian source
# packages they came from. A library the programs load at run time (NEEDED:
# Qt, libsystemd, the C and C++ libraries on Linux) is its own package with
# its own notices and needs none here; the kernel's interface headers hold no
# code that is linked.
#   tools/check_notices.sh BUILD_DIR NOTICE_FILE PROGRAM_TARGET...
# A notice names its source as "(Debian source package NAME)". Each program
# is named by its file in BUILD_DIR; its target is the file's name without .exe.
set -euo pipefail
build=$(cd "$1" && pwd)
notices=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
objdump=${OBJDUMP:-objdump}
programs=("$@")
targets=()
for program in "${programs[@]}"; do targets+=("$(basename "$program" .exe)"); done

inputs=$(ninja -C "$build" -t inputs "${targets[@]}")
# Object files: .o, or .obj where the build is for Windows.
objects=$(grep -E '\.(o|obj)$' <<<"$inputs" | sed "s|^$build/||" || true)
[ -n "$objects" ] || { echo "FAILED: no object files of ${targets[*]} in $build" >&2; exit 1; }
# Headers and libraries from outside this tree and its build, as real paths.
used=$( (cd "$build" && ninja -t deps $objects | sed -n 's/^    //p'; grep -E '\.(a|so)$' <<<"$inputs") |
        grep -v -e "^$root/" -e "^$build/" | grep '^/' | sort -u | xargs -r realpath -e | sort -u)
# The source packages that hold these files (one dpkg -S for all of them).
owners=$(xargs -r dpkg -S <<<"$used" 2>/dev/null || true)
sources_of() {
  sed 's/: \/.*//' | tr ',' '\n' | sed -e 's/^ *//' -e 's/:.*//' | grep -v '^$' | sort -u |
    xargs -r dpkg-query -W -f='${source:Package}\n' | sed 's/ .*//' | sort -u
}
linked=$(sources_of <<<"$owners")
unknown=$(comm -23 <(echo "$used") <(sed 's|^.*: /|/|' <<<"$owners" | sort -u))

# What the programs load at run time, by the package that holds each library.
sonames=$(for program in "${programs[@]}"; do "$objdump" -p "$program" | awk '$1 == "NEEDED" {print "*/" $2}'; done | sort -u)
needed=$(xargs -r dpkg -S <<<"$sonames" 2>/dev/null | sources_of || true)

# Sources whose headers declare interfaces only: no code of theirs is linked.
interface_only="linux libglvnd"
failed=0
for source in $linked; do
  grep -qx "$source" <<<"$needed" && continue
  [[ " $interface_only " == *" $source "* ]] && continue
  grep -qF "(Debian source package $source)" "$notices" ||
    { echo "FAILED: $(basename "$notices") has no notice for $source, whose code the programs hold" >&2; failed=1; }
done
[ -z "$unknown" ] || { echo "FAILED: files of no known package in the programs:"$'\n'"$unknown" >&2; failed=1; }
[ $failed = 0 ] && echo "ok: $(basename "$notices") covers what the programs hold from: $(tr '\n' ' ' <<<"$linked")"
exit $failed
