#!/usr/bin/env bash
# Installs everything building and testing hotfx needs on Debian 12, where missing, then
# provides Wine 10 (tools/wine-root.sh). Run as root, or with everything already installed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/tools/host-packages.sh"

need_packages "${build_packages[@]}" "${run_packages[@]}" "${screenshot_packages[@]}" "${live_packages[@]}" \
    "${test_packages[@]}" "${record_packages[@]}" "${editor_packages[@]}"
"$repo/tools/wine-root.sh" setup
