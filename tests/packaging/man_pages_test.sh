#!/usr/bin/env bash
# The man pages say what the programs take: every command, option and
# simulated machine that a program's --help names is in its man page, and
# every option the man page names is one the program takes. The window
# programs answer --help and --version without a display.
#   man_pages_test.sh MAN_DIR KELUFLASH_CLI [PROGRAM...]
# Each PROGRAM (keluflash, keluflash-demo, keluflash-virtual-drive) has its
# page NAME.SECTION.in in MAN_DIR.
set -uo pipefail
man=$1
cli=$2
shift 2
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# A man page as its reader sees it: \- is a hyphen, font changes dropped.
plain() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$1"; }
# The options a text names (-y, --dry-run), one a line.
options() { grep -oE -- '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' | grep -oE -- '--?[[:alpha:]][[:alnum:]-]*' | sort -u; }
# The first word of each line of the section that starts with $1, up to a blank line.
section_words() { awk -v head="$1" 'index($0, head) == 1 {on = 1; next} on && /^$/ {exit} on {print $1}'; }

# check NAME HELP_TEXT MAN_FILE EXTRA_WORDS...
check() {
  local name=$1 help=$2 page=$3 word
  shift 3
  [ -n "$help" ] || { fail "$name printed no help"; return; }
  local text
  text=$(plain "$page")
  for word in $(options <<<"$help") "$@"; do
    grep -qwF -- "$word" <<<"$text" || fail "$name: $word is missing from $(basename "$page")"
  done
  for word in $(options <<<"$text"); do
    grep -qwF -- "$word" <<<"$help" || fail "$name: $(basename "$page") names $word, which the program does not take"
  done
}

top=$("$cli" --help)
commands=$(section_words 'Subcommands:' <<<"$top")
machines=$(section_words 'Simulated machines' <<<"$top")
[ -n "$commands" ] && [ -n "$machines" ] || fail "keluflash-cli --help lists no commands or no simulated machines"
help=$top
for command in $commands; do help+=$'\n'$("$cli" "$command" --help); done
# shellcheck disable=SC2086
check keluflash-cli "$help" "$man/keluflash-cli.1.in" $commands $machines
version=$("$cli" --version)
[[ $version =~ ^keluflash-cli\ [0-9]+\.[0-9]+ ]] || fail "keluflash-cli --version printed \"$version\""

# The other programs' help and version with no display to open: on a server
# or over SSH a window program must still answer, not abort.
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
for program in "$@"; do
  [ -n "$program" ] || continue
  name=$(basename "$program")
  pages=("$man/$name".[1-8].in)
  [ -f "${pages[0]}" ] || { fail "$name has no man page in $man"; continue; }
  help=$(headless "$program" --help 2>&1) || fail "$name --help without a display ended with $?: $help"
  check "$name" "$help" "${pages[0]}"
  version=$(headless "$program" --version 2>&1) || fail "$name --version without a display ended with $?"
  [[ $version =~ ^$name\ [0-9]+\.[0-9]+ ]] || fail "$name --version printed \"$version\""
done

[ $failed = 0 ] && echo "the man pages match the programs' help"
exit $failed
