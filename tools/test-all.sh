#!/usr/bin/env bash
# Every test: the unit tests against the stand-in platform, then the real hotfx.exe under
# Wine 10 and Xvfb, on wined3d and then DXVK's share (the tests where a stack can make a
# difference). Sets up what is missing first, names each stack's slowest tests, and ends with
# the time each phase took.
# The six-minute memory runs are left to a run by hand: tools/test-e2e.sh -m endurance.
set -euo pipefail
cd "$(dirname "$0")/.."

timings=()
# The summary is the last thing printed, whichever phase stopped the run.
trap 'printf "%s\n" "${timings[@]}"' EXIT

phase() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    local took=$((SECONDS - start))
    timings+=("$(printf 'phase %-12s %2d min %02d s%s' "$name" $((took / 60)) $((took % 60)) \
                 "$([ $status -eq 0 ] || echo ", failed with $status")")")
    return $status
}

unit() {
    cmake --preset native && cmake --build --preset native && ctest --preset native
}

build() {
    cmake --preset windows && cmake --build --preset windows
}

phase setup tools/setup.sh
phase unit unit
phase build build
failed=0
if [ -n "${HOTFX_D3D9:-}" ]; then
    phase "e2e $HOTFX_D3D9" tools/test-e2e.sh --durations=15 -m "not endurance" || failed=1
else
    # Each stack's test ids carry its name as a marker; the tests with no stack go with wined3d.
    phase "e2e wined3d" tools/test-e2e.sh --durations=15 -m "not endurance and not dxvk" || failed=1
    phase "e2e dxvk" tools/test-e2e.sh --durations=15 -m "not endurance and dxvk" || failed=1
fi
exit $failed
