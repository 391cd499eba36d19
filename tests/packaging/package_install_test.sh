#!/usr/bin/env bash
# Installs the Debian packages with apt as a user would, runs the installed
# programs and removes the packages again, leaving none of their files behind:
#   tests/packaging/package_install_test.sh keluflash-cli_V_A.deb keluflash_V_A.deb keluflash-tools_V_A.deb
# - keluflash-cli goes in alone: it runs from /usr/bin, holds its man page,
#   completion and the drive access, and nothing it depends on or recommends,
#   however deep, is Qt;
# - keluflash (the window) depends on keluflash-cli of its own version, and
#   removing keluflash-cli takes it away too;
# - keluflash-tools holds keluflash-virtual-drive with its man page.
# Changes the machine it runs on (as root, or through sudo): for CI.
set -euo pipefail
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
apt_get() { as_root env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@" >/dev/null; }
packages=(keluflash-cli keluflash keluflash-tools)

declare -A deb
for file in "$@"; do deb[$(dpkg-deb -f "$file" Package)]=$(realpath "$file"); done
for package in "${packages[@]}"; do
  [ -n "${deb[$package]:-}" ] || { echo "FAILED: no $package package among: $*" >&2; exit 1; }
done
version=$(dpkg-deb -f "${deb[keluflash-cli]}" Version)
. "$(dirname "$0")/../support/test_lib.sh"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# The width and height of a PNG file, from its header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}'; }

# --- what the packages ask for, before anything is installed ----------------
for package in "${packages[@]}"; do
  other=$(dpkg-deb -f "${deb[$package]}" Version)
  [ "$other" = "$version" ] || fail "$package is $other, keluflash-cli $version"
done
depends=$(dpkg-deb -f "${deb[keluflash]}" Depends)
if grep -qE "(^|, )keluflash-cli \(= $version\)(,|$)" <<<"$depends"; then
  pass "keluflash depends on keluflash-cli (= $version)"
else
  fail "keluflash does not depend on keluflash-cli (= $version): $depends"
fi
# The package names of a Depends or Recommends field, alternatives included.
names() { tr ',|' '\n\n' | sed -e 's/(.*)//' -e 's/:any//' -e 's/[[:space:]]//g' | grep -v '^$' || true; }
direct=$(for field in Pre-Depends Depends Recommends; do dpkg-deb -f "${deb[keluflash-cli]}" "$field" | names; done)
# shellcheck disable=SC2086
closure=$(apt-cache depends --recurse --no-suggests --no-conflicts --no-breaks --no-replaces --no-enhances \
            $direct 2>/dev/null | grep -v '^ ' | tr -d '<>' | sort -u)
[ -n "$closure" ] || fail "apt-cache found nothing keluflash-cli depends on: $direct"
qt=$(grep -iE '^(lib)?qt' <<<"$closure" || true)
if [ -z "$qt" ]; then
  pass "keluflash-cli pulls no Qt ($(wc -l <<<"$closure") packages in its dependencies and recommendations)"
else
  fail "keluflash-cli pulls Qt: $(tr '\n' ' ' <<<"$qt")"
fi

# Purges whichever of the packages are installed (apt refuses a name it does not know).
purge_installed() {
  local package present=()
  for package in "${packages[@]}"; do installed "$package" && present+=("$package"); done
  [ ${#present[@]} = 0 ] || apt_get purge "${present[@]}"
}
trap 'purge_installed 2>/dev/null || true' EXIT

# --- keluflash-cli alone ----------------------------------------------------
apt_get install "${deb[keluflash-cli]}"
files=$(dpkg -L "${packages[0]}")
! installed keluflash || fail "installing keluflash-cli installed keluflash"
[ ! -e /usr/bin/keluflash ] || fail "keluflash-cli installed the window /usr/bin/keluflash"
out=$(/usr/bin/keluflash-cli --version 2>&1) || true
if [ "$out" = "keluflash-cli $version" ]; then
  pass "installed keluflash-cli --version: $out"
else
  fail "keluflash-cli --version printed \"$out\", the package is $version"
fi
out=$(/usr/bin/keluflash-cli --simulate list 2>&1) || true
if grep -q 'KELU' <<<"$out"; then
  pass "installed keluflash-cli --simulate list: $out"
else
  fail "keluflash-cli --simulate list printed: $out"
fi
for file in /usr/share/man/man1/keluflash-cli.1.gz /usr/share/bash-completion/completions/keluflash-cli \
            /usr/lib/udev/rules.d/70-keluflash.rules /usr/lib/modules-load.d/keluflash.conf \
            /usr/share/doc/keluflash-cli/copyright; do
  [ -e "$file" ] || fail "keluflash-cli installed no $file"
done
man -w keluflash-cli >/dev/null 2>&1 || [ ! -x /usr/bin/man ] || fail "man finds no keluflash-cli page"

# --- the window and the tools -----------------------------------------------
apt_get install "${deb[keluflash]}" "${deb[keluflash-tools]}"
before=$failed
files+=$'\n'$(dpkg -L keluflash keluflash-tools)
for file in /usr/bin/keluflash /usr/bin/keluflash-demo /usr/share/man/man1/keluflash.1.gz \
            /usr/share/man/man1/keluflash-demo.1.gz /usr/share/applications/keluflash.desktop \
            /usr/share/metainfo/org.keluflash.keluflash.metainfo.xml /usr/share/icons/hicolor/scalable/apps/keluflash.svg \
            /usr/sbin/keluflash-virtual-drive /usr/share/man/man8/keluflash-virtual-drive.8.gz \
            /usr/share/doc/keluflash/copyright /usr/share/doc/keluflash-tools/copyright; do
  [ -e "$file" ] || fail "the packages installed no $file"
done
for size in 16 24 32 48 64 128 256; do
  icon=/usr/share/icons/hicolor/${size}x$size/apps/keluflash.png
  if [ ! -f "$icon" ]; then
    fail "keluflash installed no $icon"
  elif [ "$(png_size "$icon")" != "${size}x$size" ]; then
    fail "$icon is $(png_size "$icon")"
  fi
done
# The window programs answer without a display, so their libraries load.
for program in keluflash keluflash-demo; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "/usr/bin/$program" --version 2>&1) || true
  [ "$out" = "$program $version" ] || fail "installed $program --version printed \"$out\""
done
out=$(/usr/sbin/keluflash-virtual-drive --version 2>&1) || true
[ "$out" = "keluflash-virtual-drive $version" ] || fail "installed keluflash-virtual-drive --version printed \"$out\""
[ "$failed" != "$before" ] ||
  pass "installed keluflash and keluflash-tools: their files, the icon at every size; the window, the demo and the virtual drive answer --version"

# --- removal ----------------------------------------------------------------
# The window cannot stay without the command line it depends on.
apt_get purge keluflash-cli
if installed keluflash; then fail "removing keluflash-cli left keluflash installed"; else pass "removing keluflash-cli removed keluflash"; fi
# Whatever stayed goes too, before the count of what is left.
purge_installed
trap - EXIT
left=$(while read -r file; do [ -f "$file" ] && echo "$file"; done <<<"$files" || true)
[ -z "$left" ] || fail "left behind after removal: $left"
for package in "${packages[@]}"; do
  ! installed "$package" && ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv 'not-installed' ||
    fail "$package still known to dpkg: $(dpkg-query -W -f='${Status}' "$package")"
done
test_end "ok: installed and removed $(for d in "$@"; do basename "$d"; done | tr '\n' ' ')"
