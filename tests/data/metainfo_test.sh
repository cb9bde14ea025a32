#!/usr/bin/env bash
# The AppStream metadata validates, offline, and launches the desktop entry
# that is installed.
# usage: metainfo_test.sh METAINFO DESKTOP_ENTRY
set -uo pipefail
if ! command -v appstreamcli >/dev/null; then
    echo "SKIP: appstreamcli is not installed (Debian: appstream)"
    exit 77
fi
status=0
appstreamcli validate --no-net --explain "$1" || status=1
launchable="$(grep -oP '(?<=<launchable type="desktop-id">)[^<]+' "$1")"
if [ "$launchable" != "$(basename "$2")" ]; then
    echo "the metadata launches '$launchable', the desktop entry is $(basename "$2")"
    status=1
fi
exit "$status"
