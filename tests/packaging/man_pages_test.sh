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
. "$(dirname "$0")/../support/test_lib.sh"

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
[ "$("$cli" -V)" = "$version" ] || fail "keluflash-cli -V printed \"$("$cli" -V)\", not the version"

# keluflash-cli's page, part by part, against the help of each part.
page=$man/keluflash-cli.1.in
# The options of a help's section (its heading to the next empty line).
help_section() { awk -v head="$1" '$0 == head {on = 1; next} on && !NF {exit} on' | options; }
# A section of the page (.SH NAME to the next .SH), as its reader sees it.
page_section() { plain "$page" | awk -v head=".SH $1" '$0 == head {on = 1; next} on && /^\.SH / {exit} on'; }
# A command's entry under COMMANDS, up to the next command's.
page_command() {
  page_section COMMANDS | awk -v want="$1" -v names=" $(echo $commands) " '
    tp && ($1 == ".B" || $1 == ".BI") && index(names, " " $2 " ") {current = $2}
    {tp = $1 == ".TP"}
    current == want'
}
# The sentence that starts with $1 ("Exit status:"), on one line.
sentence() { tr '\n' ' ' | tr -s ' ' | grep -oE -- "$1 [^.]*\." | head -n1; }
# compare WHAT HELP_OPTIONS PAGE_OPTIONS ALLOWED: each option of the help is
# on the page, and each option on the page is one in ALLOWED.
compare() {
  local what=$1 word
  for word in $2; do grep -qxF -- "$word" <<<"$3" || fail "$what: $word is in --help, not in the page"; done
  for word in $3; do grep -qxF -- "$word" <<<"$4" || fail "$what: the page names $word, which --help does not"; done
}

global_help=$(help_section 'Options:' <<<"$top")
compare "GLOBAL OPTIONS" "$global_help" "$(page_section 'GLOBAL OPTIONS' | options)" "$global_help"
# The page's exit statuses, as the commands' help states them ("Exit codes:").
exit_codes=$(page_section 'EXIT STATUS' | awk '/^\.B / {code = $2; next} code != "" && !/^\./ {printf "%s%s %s", sep, code, $0; sep = ", "; code = ""}')
for command in $commands; do
  help=$("$cli" "$command" --help)
  part=$(page_command "$command")
  [ -n "$part" ] || { fail "$command has no entry under COMMANDS"; continue; }
  own=$(help_section 'Options:' <<<"$help" | grep -vxF -e -h -e --help)
  compare "$command" "$own" "$(options <<<"$part")" "$(options <<<"$help")"
  # Every statement of the exit status is the same in both.
  stated=$(sentence 'Exit status:' <<<"$help")
  [ "$(sentence 'Exit status:' <<<"$part")" = "$stated" ] ||
    fail "$command: the page says \"$(sentence 'Exit status:' <<<"$part")\", --help \"$stated\""
  codes=$(sentence 'Exit codes:' <<<"$help")
  [ -z "$codes" ] || [ "$codes" = "Exit codes: $exit_codes." ] ||
    fail "$command: --help says \"$codes\", EXIT STATUS \"$exit_codes\""
  [ -n "$stated$codes" ] || fail "$command: --help states no exit status"
done

# info --json: the fields the program prints for a single image, a
# multi-image file and with --device are the ones the page, info --help and
# the JSON documentation name. error and kind are every failure's.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1000 /dev/zero >"$work/block"
"$cli" --simulate demo-image "$work/single.kfs" >/dev/null &&
  "$cli" pack "$work/multi.kfs" --block "$work/block" "$work/block" --multi 1 --balance >/dev/null 2>&1 ||
  fail "no image files to run info on"
keys() { grep -oE '^  "[a-z_]+":' | tr -d ' ":' | grep -vx -e error -e kind; }
printed=$({ "$cli" --json info "$work/single.kfs"; "$cli" --json info "$work/multi.kfs"
            "$cli" --json --simulate info --device 0 "$work/single.kfs"; } | keys | sort -u)
[ "$(wc -l <<<"$printed")" -ge 20 ] || fail "info --json printed too few fields: $printed"
listed=$(page_command info | tr '\n' ' ' | grep -oE 'prints one object \([^)]*\)' |
         sed -e 's/^prints one object (//' -e 's/)$//' -e 's/with --device also//' | tr ',;' '\n\n' | tr -d ' ' | grep . | sort -u)
[ "$printed" = "$listed" ] || fail "info --json prints: $(echo $printed); the page lists: $(echo $listed)"
info_help=$("$cli" info --help)
json_doc=$(grep -F '| `info FILE` |' "$(dirname "$0")/../../docs/cli-json.md")
for field in $printed; do
  grep -qwF -- "$field" <<<"$info_help" || fail "info --help does not name the field $field"
  grep -qF -- "\`$field\`" <<<"$json_doc" || fail "docs/cli-json.md does not name info's field $field"
done

# The limit of --multi, as pack itself states it when refusing.
limit=$("$cli" pack "$work/nine.kfs" --block $(printf "$work/block %.0s" {1..9}) --multi 9 2>&1 |
        grep -oE 'holds at most [0-9]+ blocks')
[ -n "$limit" ] || fail "pack --multi 9 did not state its limit"
pack_part=$(page_command pack | tr '\n' ' ' | tr -s ' ')
grep -qF -- "$limit" <<<"$pack_part" || fail "pack's entry does not say an image $limit"

# The JSON documents are installed where the page points.
pointed=$(plain "$page" | grep -oE '/usr/share/doc/[^ ]*cli-json\.md\.gz' | head -n1)
[ -n "$pointed" ] || fail "the page points to no description of the JSON documents"
if [ -n "${KELUFLASH_BUILD_DIR:-}" ]; then
  cmake --install "$KELUFLASH_BUILD_DIR" --component cli --prefix "$work/usr" >/dev/null ||
    fail "cmake --install of the cli component failed"
  [ -s "$work$pointed" ] || fail "the cli component does not install $pointed"
  [ "$(zcat "$work$pointed" 2>/dev/null)" = "$(cat "$(dirname "$0")/../../docs/cli-json.md")" ] ||
    fail "$pointed is not docs/cli-json.md"
fi

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

test_end "the man pages match the programs' help"
