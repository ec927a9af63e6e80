#!/usr/bin/env bash
# Installs what building and testing hotfx needs on Debian 12, where missing, then provides
# Wine 10 (tools/wine-root.sh). Run as root, or with everything already installed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev valgrind
          g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
          mmdebstrap bubblewrap xvfb xdotool imagemagick x11-utils python3-pytest)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: please install: ${missing[*]}" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >&2
    apt-get install -y -q "${missing[@]}" >&2
fi

tools/wine-root.sh setup
