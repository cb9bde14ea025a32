#!/usr/bin/env bash
# The desktop search's files name the program's bus name and object paths:
# GNOME Shell's provider .ini has its four keys, KRunner's plugin validates
# as a desktop file, and the D-Bus service installed by `cmake --install`
# starts the installed program under that bus name.
# usage: search_providers_test.sh DATA_DIR BUILD_DIR
set -uo pipefail
data="$1/search"
build="$2"
bus=io.harborwatch.Harborwatch
status=0
fail() {
    echo "$*"
    status=1
}
# The value of KEY in FILE's group GROUP.
value() {
    awk -v group="[$2]" -v key="$3" -F= '
        /^\[/ { inside = ($0 == group) }
        inside && $1 == key { sub(/^[^=]*=/, ""); print; exit }' "$1"
}

ini="$data/$bus.search-provider.ini"
for pair in DesktopId=harborwatch.desktop BusName=$bus \
    ObjectPath=/io/harborwatch/Harborwatch/SearchProvider Version=2; do
    key="${pair%%=*}"
    got="$(value "$ini" "Shell Search Provider" "$key")"
    [ "$got" = "${pair#*=}" ] || fail "$ini: $key is '$got', expected '${pair#*=}'"
done
[ -f "$1/$(value "$ini" "Shell Search Provider" DesktopId)" ] ||
    fail "$ini names a desktop entry that is not in $1"

runner="$data/harborwatch-krunner.desktop"
for pair in X-Plasma-API=DBus X-Plasma-DBusRunner-Service=$bus \
    X-Plasma-DBusRunner-Path=/io/harborwatch/Harborwatch/KRunner; do
    key="${pair%%=*}"
    got="$(value "$runner" "Desktop Entry" "$key")"
    [ "$got" = "${pair#*=}" ] || fail "$runner: $key is '$got', expected '${pair#*=}'"
done
if command -v desktop-file-validate >/dev/null; then
    output="$(desktop-file-validate "$runner" 2>&1)" || fail "$output"
    [ -z "$output" ] || fail "$output"
else
    echo "desktop-file-validate is not installed (Debian: desktop-file-utils): $runner not validated"
fi

# Installed under a prefix of its own, the service runs that prefix's program.
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
if cmake --install "$build" --prefix "$prefix/usr" --component search >/dev/null; then
    service="$prefix/usr/share/dbus-1/services/$bus.service"
    [ "$(value "$service" "D-BUS Service" Name)" = "$bus" ] || fail "$service: Name is not $bus"
    [ "$(value "$service" "D-BUS Service" Exec)" = "$prefix/usr/bin/harborwatch" ] ||
        fail "$service: Exec is '$(value "$service" "D-BUS Service" Exec)'"
    for file in share/gnome-shell/search-providers/$bus.search-provider.ini \
        share/krunner/dbusplugins/harborwatch.desktop; do
        [ -f "$prefix/usr/$file" ] || fail "cmake --install did not install $file"
    done
else
    fail "cmake --install $build failed"
fi
exit "$status"
