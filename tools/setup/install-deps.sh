#!/bin/sh
# Installs the Debian 12 packages the build, the tests and the demo use, when any is missing.
# Run as root on a fresh machine; later runs find everything and do nothing.
set -eu

packages="cmake ninja-build g++ pkg-config ccache juce-modules-source libgtest-dev lilv-utils
espeak-ng sox fonts-inter python3-fonttools python3-pil python3-numpy xvfb xdotool imagemagick
x11-utils"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "error: these Debian packages are missing and installing them needs root:$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# juce-modules-source recommends a large tree we do not use.
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
