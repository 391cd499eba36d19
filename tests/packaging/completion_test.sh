#!/usr/bin/env bash
# keluflash-cli's bash completion in a real bash with bash-completion loaded:
# it is registered, offers every command and every option each command's
# --help names, completes --simulate=NAME whether or not the shell split the
# word at "=", and completes file names: a trace after --simulate=replay:,
# a folder for match.
#   completion_test.sh COMPLETION_FILE KELUFLASH_CLI
set -uo pipefail
completion=$(realpath "$1")
cli=$2
. "$(dirname "$0")/../support/test_lib.sh"
[ -r /usr/share/bash-completion/bash_completion ] || { echo "FAILED: bash-completion is not installed"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$(realpath "$cli")" "$work/bin/keluflash-cli"
touch "$work/fw.kfs"
mkdir "$work/folder"

# What completion offers for a command line given as its words (the last is
# the word being completed), one candidate a line, sorted.
offered() {
  (cd "$work" && PATH=$work/bin:$PATH bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    source "$0"
    COMP_WORDS=("${@}"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    # The line as typed: bash splits "--simulate=me" into three words at "=".
    COMP_LINE=$1; for ((i = 1; i < $#; i++)); do
      w=${COMP_WORDS[i]}; [[ $w == "=" || ${COMP_WORDS[i-1]} == "=" ]] && COMP_LINE+=$w || COMP_LINE+=" $w"
    done; COMP_POINT=${#COMP_LINE}
    _keluflash_cli keluflash-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' "$completion" "$@")
}
# expect DESCRIPTION WANTED -- WORDS...: every line of WANTED is offered.
expect() {
  local what=$1 wanted=$2 got word
  shift 3
  got=$(offered "$@")
  while read -r word; do
    [ -z "$word" ] || grep -qxF -- "$word" <<<"$got" || fail "$what: \"$word\" not offered for: $* (offered: $(tr '\n' ' ' <<<"$got"))"
  done <<<"$wanted"
}

registered=$(bash --norc --noprofile -c 'source /usr/share/bash-completion/bash_completion; source "$0"; complete -p keluflash-cli' "$completion")
[[ $registered == *"-F _keluflash_cli"* ]] || fail "complete -p keluflash-cli: $registered"

top=$("$cli" --help)
section() { awk -v head="$1" 'index($0, head) == 1 {on = 1; next} on && !NF {exit} on {print $1}'; }
options() { grep -oE -- '(^|[ ,])--?[[:alpha:]][[:alnum:]-]*' | tr -d ' ,' | sort -u; }
commands=$(section 'Subcommands:' <<<"$top")
machines=$(section 'Simulated machines' <<<"$top")
[ -n "$commands" ] && [ -n "$machines" ] || fail "keluflash-cli --help lists no commands or no simulated machines"

expect "commands" "$commands" -- keluflash-cli ""
expect "the program's options" "$(options <<<"$top" | grep -vx -- --simulate)" -- keluflash-cli -
for command in $commands; do
  expect "$command's options" "$("$cli" "$command" --help | options)" -- keluflash-cli --json "$command" -
done
# --simulate=me: split by _init_completion into --simulate, =, me, and whole.
methods=$(grep '^me' <<<"$machines" | sort)
[ -n "$methods" ] || fail "no simulated machine starts with \"me\""
expect "machines after the split" "$methods" -- keluflash-cli --simulate = me
expect "every machine after --simulate=" "$machines" -- keluflash-cli --simulate = ""
[ "$(offered keluflash-cli --simulate = me)" = "$methods" ] || fail "--simulate=me offers more than the me... machines"
expect "file names" "fw.kfs" -- keluflash-cli flash --yes f
expect "file names for --trace" "fw.kfs" -- keluflash-cli --trace f
expect "replay: beside the machines" "replay:" -- keluflash-cli --simulate = re
# "replay:f" is one word here; bash itself replaces only what follows the colon.
expect "a trace after --simulate=replay:" "fw.kfs" -- keluflash-cli --simulate = replay:f
[ "$(offered keluflash-cli match f)" = "folder" ] || fail "match offers more than folders: $(offered keluflash-cli match f)"

test_end "completion offers every command, option, machine and file"
