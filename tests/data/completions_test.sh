#!/usr/bin/env bash
# The bash, zsh and fish completions parse, offer every option that
# `harborwatch --help` lists, and complete --stop with the ports that
# `harborwatch --list` lists (a stand-in program on PATH), passing on the
# --all and --range given before.
# usage: completions_test.sh PROGRAM COMPLETIONS_DIR
set -uo pipefail
program="$1"
dir="$2"
for shell in bash zsh fish; do
    if ! command -v "$shell" >/dev/null; then
        echo "SKIP: $shell is not installed"
        exit 77
    fi
done
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

bash -n "$dir/harborwatch.bash" || fail "bash cannot parse harborwatch.bash"
zsh -n "$dir/_harborwatch" || fail "zsh cannot parse _harborwatch"
fish -n "$dir/harborwatch.fish" || fail "fish cannot parse harborwatch.fish"

help="$(env -u LANGUAGE LC_ALL=C "$program" --help)" || fail "$program --help failed"
for option in $(grep -oE -- '(^|[ ,])--[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u); do
    name="${option#--}"
    grep -qE -- "(^|[ \"'])--$name( |\"|$)" "$dir/harborwatch.bash" || fail "bash lacks $option"
    grep -qE -- "--$name(\\[|\\})" "$dir/_harborwatch" || fail "zsh lacks $option"
    grep -qE -- "-l $name( |$)" "$dir/harborwatch.fish" || fail "fish lacks $option"
done

# The table the completions read: the port in the first column.
header="$(env -u LANGUAGE LC_ALL=C "$program" --list 2>/dev/null | head -n 1 | awk '{ print $1 }')"
[ "$header" = PORT ] || fail "harborwatch --list's first column is '$header', not PORT"

temp="$(mktemp -d)"
trap 'rm -rf "$temp"' EXIT
# A stand-in that records its arguments and lists two servers, or one with --all.
cat >"$temp/harborwatch" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$(dirname "$0")/calls"
echo "PORT  PID    NAME     PROJECT  URL                    COMMAND"
if [ "$2" = --all ]; then
    echo "22    100    sshd     -        http://localhost:22    /usr/sbin/sshd"
else
    echo "3000  41872  node     shop     http://localhost:3000  node dev"
    echo "5173  42113  vite     web      http://localhost:5173  node vite"
fi
STANDIN
chmod +x "$temp/harborwatch"
export PATH="$temp:$PATH"

bash_complete() { # WORDS...: completes the last one
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _harborwatch
             printf "%s\n" "${COMPREPLY[@]}"' _ "$dir/harborwatch.bash" "$@" | sort | tr '\n' ' '
}
got="$(bash_complete harborwatch --stop '')"
[ "$got" = "3000 5173 " ] || fail "bash: --stop completes '$got'"
got="$(bash_complete harborwatch --stop 51)"
[ "$got" = "5173 " ] || fail "bash: --stop 51 completes '$got'"
got="$(bash_complete harborwatch --all --stop '')"
[ "$got" = "22 " ] || fail "bash: --all --stop completes '$got'"
got="$(bash_complete harborwatch --ra)"
[ "$got" = "--range " ] || fail "bash: --ra completes '$got'"

got="$(fish -c "source '$dir/harborwatch.fish'; complete -C 'harborwatch --stop '" | cut -f1 | sort | tr '\n' ' ')"
[ "$got" = "3000 5173 " ] || fail "fish: --stop completes '$got'"
got="$(fish -c "source '$dir/harborwatch.fish'; complete -C 'harborwatch --all --stop '" | cut -f1 | tr '\n' ' ')"
[ "$got" = "22 " ] || fail "fish: --all --stop completes '$got'"

# zsh: the port function alone, with the completion system's calls stood in.
got="$(zsh -fc '_arguments() { :; }; _describe() { print -l -- ${(P)${@[-1]}}; }
                source "$1"; words=(harborwatch --stop ""); _harborwatch_ports' _ "$dir/_harborwatch" | tr '\n' ' ')"
[ "$got" = "3000:node 5173:vite " ] || fail "zsh: --stop completes '$got'"
got="$(zsh -fc '_arguments() { :; }; _describe() { print -l -- ${(P)${@[-1]}}; }
                source "$1"; words=(harborwatch --range 1-1024 --stop ""); _harborwatch_ports' _ "$dir/_harborwatch" | tr '\n' ' ')"
grep -q -- "--list --range 1-1024" "$temp/calls" || fail "zsh: --range is not passed on: $(cat "$temp/calls")"

[ "$status" -eq 0 ] && echo "completions: bash, zsh and fish complete every option and the listed ports"
exit "$status"
