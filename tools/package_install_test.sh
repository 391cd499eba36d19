#!/usr/bin/env bash
# Installs the Debian package with apt, runs the installed keluflash-cli and
# removes the package again, leaving none of its files behind:
#   tools/package_install_test.sh keluflash_VERSION_ARCH.deb
# Changes the machine it runs on (as root, or through sudo): for CI.
set -euo pipefail
deb=$(realpath "$1")
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
version=$(dpkg-deb -f "$deb" Version)

as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
trap 'as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq keluflash >/dev/null 2>&1 || true' EXIT
files=$(dpkg -L keluflash)

out=$(/usr/bin/keluflash-cli --version)
[ "$out" = "keluflash-cli $version" ] || { echo "FAILED: keluflash-cli --version printed \"$out\", the package is $version" >&2; exit 1; }
echo "ok: installed keluflash-cli --version: $out"
out=$(/usr/bin/keluflash-cli --simulate list)
grep -q 'KELU' <<<"$out" || { echo "FAILED: keluflash-cli --simulate list printed: $out" >&2; exit 1; }
echo "ok: installed keluflash-cli --simulate list: $out"
for file in /usr/bin/keluflash /usr/bin/keluflash-demo /usr/share/man/man1/keluflash-cli.1.gz \
            /usr/lib/udev/rules.d/70-keluflash.rules /usr/lib/modules-load.d/keluflash.conf \
            /usr/share/bash-completion/completions/keluflash-cli; do
  [ -e "$file" ] || { echo "FAILED: the package installed no $file" >&2; exit 1; }
done
man -w keluflash-cli >/dev/null 2>&1 || [ ! -x /usr/bin/man ] || { echo "FAILED: man finds no keluflash-cli page" >&2; exit 1; }

as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq keluflash >/dev/null
trap - EXIT
left=$(while read -r file; do [ -f "$file" ] && echo "$file"; done <<<"$files" || true)
[ -z "$left" ] || { echo "FAILED: left behind after removal: $left" >&2; exit 1; }
! dpkg-query -W keluflash >/dev/null 2>&1 || dpkg-query -W -f='${Status}' keluflash | grep -q 'not-installed' ||
  { echo "FAILED: keluflash still known to dpkg" >&2; exit 1; }
echo "ok: installed and removed $(basename "$deb")"
