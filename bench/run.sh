#!/usr/bin/env bash
# Builds and runs every benchmark and writes the figures into BENCHMARKS.md: hotfx's own cost
# per frame against the quiet stand-in, hotfx.exe against a bare reference program under
# Wine 10 on wined3d and on DXVK (HOTFX_D3D9 picks one), the size of hotfx.exe, and reload on
# save in hotfx.exe --watch beside F5, OSC to picture, saved frames, what passes cost, the wait for a frame during
# a step back through a pass that reads itself, what view.sh's reader of hotfx's output costs,
# the sound's picture, and a WAV heard against the frames that show it.
# Takes about twenty-five minutes; run tools/setup.sh first on a new
# machine. Results and intermediate files go to build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/bench/results
rm -rf "$out" build/bench/platform
mkdir -p "$out" build/bench/platform

# The native benchmarks as a size-optimised release, like hotfx.exe, with debug information so
# that callgrind can tell hotfx's code from the stand-in's.
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DHOTFX_SANITIZE=OFF \
    "-DCMAKE_CXX_FLAGS_MINSIZEREL=-Os -DNDEBUG -g"
cmake --build build/bench --target hotfx_passes hotfx_frame_bench

# hotfx.exe as the windows preset builds it, in a folder of the benchmark's own.
cmake -S . -B build/bench/windows -G Ninja --toolchain cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
cmake --build build/bench/windows
i686-w64-mingw32-g++ -std=c++11 -Os -DNDEBUG -static -s -Wall \
    -o build/bench/platform/reference.exe bench/reference/reference.cpp -ld3dx9_43 -ld3d9 -lgdi32
cp build/bench/windows/hotfx.exe bench/main.fx build/bench/platform/

python3 bench/size.py build/bench/windows/hotfx.exe "$out/size.json"
python3 bench/native.py build/bench "$out/native.json"
# The sound's picture in every frame, against the same stand-in.
python3 bench/sound_native.py build/bench BENCHMARKS.md
# The Wine benchmarks on each Direct3D 9 implementation, or on the one HOTFX_D3D9 names.
wine_results=()
for stack in ${HOTFX_D3D9:-wined3d dxvk}; do
    HOTFX_D3D9=$stack tools/wine-root.sh setup
    HOTFX_D3D9=$stack python3 bench/on_wine.py "$out/wine-$stack.json"
    wine_results+=("$out/wine-$stack.json")
done
python3 bench/results.py BENCHMARKS.md "$out/native.json" "${wine_results[@]}" "$out/size.json"
# Save to picture on each stack, beside F5 to picture.
for stack in ${HOTFX_D3D9:-wined3d dxvk}; do
    HOTFX_D3D9=$stack HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/save_reload.py BENCHMARKS.md
    HOTFX_D3D9=$stack HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/save_reload.py --drag BENCHMARKS.md
done
# Saved frames against the live frame rate, on each stack or on the one HOTFX_D3D9 names.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/frames.py BENCHMARKS.md
# Full screen against a window of the same size, on each stack or on the one HOTFX_D3D9 names.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/fullscreen.py BENCHMARKS.md
# A shader reading previous_frame against the same shader without it.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/feedback.py BENCHMARKS.md
# Frames a second with 0, 1, 2 and 4 passes of the same light stage.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/pass_cost.py BENCHMARKS.md
# A step back from frame 3,000 through a pass that reads itself: the longest wait between two
# presented frames on the way, on each stack or on the one HOTFX_D3D9 names.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/step_back.py BENCHMARKS.md
HOTFX_D3D9=wined3d HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/reader.py BENCHMARKS.md
# oscsend to the frame that shows its value, and the heap while messages arrive.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" python3 bench/osc_latency.py build/bench BENCHMARKS.md
# A WAV's clicks in a PulseAudio null sink against the frames that show them; Debian's Python,
# where python3-numpy lives.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" /usr/bin/python3 bench/av_offset.py BENCHMARKS.md
# Live sound in: a tone in a PulseAudio null sink against the first frame whose sound_in shows it.
HOTFX_EXE="$PWD/build/bench/windows/hotfx.exe" /usr/bin/python3 bench/sound_in_latency.py BENCHMARKS.md
echo "bench: figures written to BENCHMARKS.md"
