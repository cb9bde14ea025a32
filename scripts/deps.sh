#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Harborwatch
# need, skipping those already installed. Sourced by scripts/run and scripts/test.
set -euo pipefail

HARBORWATCH_PACKAGES=(
    cmake g++ make pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libxcb1-dev  # the tray program asks the X server whether an XEmbed tray runs
    libgtest-dev libgmock-dev libbenchmark-dev
    lsof procps dbus dbus-bin
    openssh-client openssh-server iproute2  # remote hosts, and the real sshd test
    xvfb xauth xdotool xclip x11-utils imagemagick
    fonts-dejavu-core
    python3 python3-dbus python3-gi trayer
    openssl  # the probe's tests make a certificate for their HTTPS server
    libglib2.0-bin  # gdbus: the end-to-end suite asks the search providers as the shells do
    mutter xwayland qt6-wayland wl-clipboard  # the GNOME Wayland end-to-end scenario
    docker.io podman busybox-static iproute2  # container engines of the tests' own
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools  # translations (lupdate, lrelease)
    libqt6svg6  # the symbolic tray icon is an SVG
    desktop-file-utils appstream man-db groff-base zsh fish  # checks of the desktop files
)

# Building and checking the Debian package (scripts/package).
HARBORWATCH_PACKAGE_PACKAGES=(dpkg-dev file gzip lintian)

# clang with its libFuzzer runtime, for scripts/fuzz only.
HARBORWATCH_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Installs the packages named as arguments (all of HARBORWATCH_PACKAGES when
# none are named) that are not installed yet; returns non-zero when apt-get
# cannot install them.
install_missing_packages() {
    local wanted=("$@")
    if [ ${#wanted[@]} -eq 0 ]; then
        wanted=("${HARBORWATCH_PACKAGES[@]}")
    fi
    local missing=()
    local pkg
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
