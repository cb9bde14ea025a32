#!/usr/bin/env bash
# The manual page renders without warnings, and its OPTIONS section describes
# every option that `harborwatch --help` lists.
# usage: man_page_test.sh PROGRAM PAGE
set -uo pipefail
program="$1"
page="$2"
if ! command -v man >/dev/null; then
    echo "SKIP: man is not installed (Debian: man-db)"
    exit 77
fi
status=0

warnings="$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)"
if [ -n "$warnings" ]; then
    echo "man --warnings -l $page:"
    echo "$warnings"
    status=1
fi

help="$(env -u LANGUAGE LC_ALL=C "$program" --help)" || { echo "$program --help failed"; exit 1; }
# The items of the OPTIONS section: the line after each .TP.
items="$(awk '/^\.SH /{ inside = ($2 == "OPTIONS") } inside && previous == ".TP" { print } { previous = $0 }' "$page")"
count=0
for option in $(grep -oE -- '(^|[ ,])--[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u); do
    count=$((count + 1))
    escaped="${option//-/\\\\-}"
    if ! grep -qE -- "(^|[ \"])${escaped}([ \"]|$)" <<<"$items"; then
        echo "--help lists $option, the manual page's OPTIONS do not"
        status=1
    fi
done
if [ "$count" -lt 5 ]; then
    echo "found only $count options in --help:"
    echo "$help"
    status=1
fi
[ "$status" -eq 0 ] && echo "manual page: no warnings, $count options described"
exit "$status"
