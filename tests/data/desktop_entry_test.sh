#!/usr/bin/env bash
# The desktop entry validates.
# usage: desktop_entry_test.sh DESKTOP_ENTRY
set -uo pipefail
if ! command -v desktop-file-validate >/dev/null; then
    echo "SKIP: desktop-file-validate is not installed (Debian: desktop-file-utils)"
    exit 77
fi
output="$(desktop-file-validate "$1" 2>&1)"
status=$?
echo "$output"
# It prints hints without failing; they count as well.
[ "$status" -eq 0 ] && [ -z "$output" ]
