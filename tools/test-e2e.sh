#!/usr/bin/env bash
# Runs the end-to-end tests of the real hotfx.exe under Wine on private Xvfb displays.
#   tools/test-e2e.sh [PYTEST ARGS...]     e.g. tools/test-e2e.sh -k reload
# Installs what is missing (as root), builds the program, prepares Wine, then runs pytest.
# HOTFX_EXE=/path/to/hotfx.exe tests that build instead, and then nothing is built.
# A test whose outcome a Direct3D 9 implementation decides runs on both, wined3d and DXVK
# (test ids name it, [wined3d] or [dxvk]); the rest run on wined3d alone (the rule is in
# tests/e2e/conftest.py). HOTFX_D3D9=wined3d or HOTFX_D3D9=dxvk runs everything on that one;
# -m dxvk or -m "not dxvk" picks one stack's share. -m endurance: the six-minute memory runs.
# Screenshots and output of failed tests land in build/e2e-artifacts/<test>/.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/tools/host-packages.sh"

packages=("${run_packages[@]}" "${screenshot_packages[@]}" "${live_packages[@]}" python3-pytest python3-numpy x11-utils
          "${sound_packages[@]}" "${osc_packages[@]}"
          "${record_packages[@]}" "${editor_packages[@]}")
[ -n "${HOTFX_EXE:-}" ] || packages+=("${build_packages[@]}")
need_packages "${packages[@]}"
[ -n "${HOTFX_EXE:-}" ] || build_hotfx "$repo"
for stack in ${HOTFX_D3D9:-wined3d dxvk}; do
    HOTFX_D3D9=$stack "$repo/tools/wine-root.sh" setup
done

cd "$repo"
# Debian's own Python, where python3-pytest lives, whatever python3 comes first in PATH.
exec /usr/bin/python3 -m pytest tests/e2e -v -p no:cacheprovider "$@"
