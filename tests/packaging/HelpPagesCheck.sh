#!/usr/bin/env bash
# What a user reads about the programs agrees with what they do: every
# program reports the project's version, each manual page names exactly the
# options its program's --help lists, and the bash and fish completions offer
# the commands and options that --help lists, files after `upload` and the
# start of a link after `setup`.
#
#   HelpPagesCheck.sh BUILD_DIR SOURCE_DIR VERSION
set -uo pipefail
build=$1 source=$2 version=$3
[ -n "${SENDOVA_TEST_SESSION:-}" ] || { echo "refusing to run outside the sealed test session" >&2; exit 1; }

sendova=$build/src/app/sendova
tray=$build/src/app/sendova-tray
share=$build/src/share/sendova-share
server=$build/server/sendova-server
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
same() { # what, expected, actual
    if [ "$2" == "$3" ]; then echo "ok   $1"; else fail "$1"; diff <(echo "$2") <(echo "$3") | sed 's/^/     /'; fi
}
options() { grep -oE -- '(^|[^a-z0-9-])--?[a-z][a-z0-9-]*' | grep -oE -- '--?[a-z][a-z0-9-]*' | grep -vxE -- '-[a-z][a-z0-9-]+' | sort -u; }
# The options a page documents: up to its ENVIRONMENT section; its examples
# name other programs' options (systemctl --now, sudo -u).
pageOptions() { sed '/^\.SH ENVIRONMENT/,$d; s/\\-/-/g; s/\\f[BIRP]//g' "$1" | options; }

# Versions on standard output, without a display: packaging scripts and text
# consoles ask too.
for program in "$sendova" "$tray" "$share" "$server"; do
    same "$(basename "$program") --version" "$(basename "$program") $version" \
        "$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version 2>/dev/null)"
done

# Manual pages against --help. sendova's page covers every command's help.
commands=$("$sendova" --help | sed -n '/^Commands:/,/^$/p' | awk '/^  [a-z]/ { print $1 }')
[ -n "$commands" ] || fail "sendova --help lists no commands"
sendovaHelp=$({ "$sendova" --help; for c in $commands; do "$sendova" help "$c"; done; } | options)
same "sendova(1) and sendova --help name the same options" "$sendovaHelp" \
    "$(pageOptions "$source/docs/man/sendova.1.in")"
same "sendova-share(1) and sendova-share --help name the same options" "$("$share" --help | options)" \
    "$(pageOptions "$source/docs/man/sendova-share.1.in")"
same "sendova-server(8) and sendova-server --help name the same options" "$("$server" --help | options)" \
    "$(pageOptions "$source/docs/man/sendova-server.8.in")"
grep -q '^\.SH EXIT STATUS' "$source/docs/man/sendova.1.in" || fail "sendova(1) has no EXIT STATUS"

# bash: the completion function, called as readline would.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files" && touch "$work/files/report.pdf" "$work/files/notes.txt"
bashComplete() { # the words of the line, the last one being completed
    (cd "$work/files" && bash --norc --noprofile -c '
        source /usr/share/bash-completion/bash_completion
        source "$0"
        COMP_WORDS=("${@}"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
        _sendova; printf "%s\n" "${COMPREPLY[@]}"' \
        "$source/resources/completions/sendova" "$@") | sort -u
}
same "bash: sendova up<Tab>" "upload" "$(bashComplete sendova up)"
same "bash: sendova <Tab> offers the commands" "$(sort <<<"$commands")" \
    "$(bashComplete sendova '' | grep -vxE 'notes.txt|report.pdf')"
same "bash: sendova upload <Tab> offers files" "notes.txt
report.pdf" "$(bashComplete sendova upload '')"
same "bash: sendova setup <Tab>" "sendova://setup?token=" "$(bashComplete sendova setup '')"
same "bash: sendova -<Tab>" "$("$sendova" --help | sed -n '/^Options:/,/^$/p' | options | grep -- --)" \
    "$(bashComplete sendova -)"
for c in $commands; do
    same "bash: sendova $c -<Tab>" "$("$sendova" help "$c" | options | grep -- --)" \
        "$(bashComplete sendova "$c" - | grep -vx -- --)"
done

# fish: its own completion engine.
fishComplete() {
    (cd "$work/files" && fish --no-config -c 'source $argv[1]; complete -C $argv[2]' \
        "$source/resources/completions/sendova.fish" "$1") | cut -f1 | sort -u
}
same "fish: sendova up<Tab>" "upload" "$(fishComplete 'sendova up')"
same "fish: sendova upload <Tab> offers files" "notes.txt
report.pdf" "$(fishComplete 'sendova upload ')"
same "fish: sendova setup <Tab>" "sendova://setup?token=" "$(fishComplete 'sendova setup ')"
for c in $commands; do
    same "fish: sendova $c --<Tab>" "$("$sendova" help "$c" | options | grep -- --)" "$(fishComplete "sendova $c --")"
done
zsh -n "$source/resources/completions/_sendova" || fail "zsh cannot parse _sendova"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
