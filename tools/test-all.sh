#!/usr/bin/env bash
# Every test: the unit tests against the stand-in platform, then the real hotfx.exe under
# Wine 10 and Xvfb. Sets up what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
cmake --preset native
cmake --build --preset native
ctest --preset native
cmake --preset windows
cmake --build --preset windows
tools/test-e2e.sh
