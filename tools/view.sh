#!/usr/bin/env bash
# Shows hotfx running a shader, from a fresh Debian 12 machine on.
#
#   tools/view.sh                 the example shader, copied into a fresh folder
#   tools/view.sh FOLDER          FOLDER/main.fx (the example is copied there if it has none)
#   tools/view.sh SHADER.fx       a file named main.fx runs in its own folder; any other name
#                                 is copied into a fresh folder as main.fx
#
# Installs what is missing (as root), builds build/windows/hotfx.exe, prepares Wine
# (tools/wine-root.sh; HOTFX_WINE=/path/to/wine uses your own Wine 9 or newer), then:
# with $DISPLAY set it opens the window there and runs until Escape; without, it runs on a
# private Xvfb for HOTFX_VIEW_SECONDS (3) seconds after it loads the shaders, saves a screenshot to HOTFX_SCREENSHOT
# (default: screenshot.png beside main.fx), sends Escape and reports the exit code.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/tools/host-packages.sh"

need_packages "${build_packages[@]}" "${run_packages[@]}"
build_hotfx "$repo"
"$repo/tools/wine-root.sh" setup

target=${1:-}
if [ -z "$target" ]; then
    folder=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-view.XXXXXX")
    cp "$repo/examples/rings/main.fx" "$folder/"
elif [ -d "$target" ]; then
    folder=$(cd "$target" && pwd)
    [ -e "$folder/main.fx" ] || cp "$repo/examples/rings/main.fx" "$folder/"
elif [ -f "$target" ] && [ "$(basename "$target")" = main.fx ]; then
    folder=$(cd "$(dirname "$target")" && pwd)
elif [ -f "$target" ]; then
    folder=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-view.XXXXXX")
    cp "$target" "$folder/main.fx"
else
    echo "view: no such folder or file: $target" >&2
    exit 2
fi
echo "view: running hotfx in $folder; edit $folder/main.fx and press F5 to reload" >&2

# Wine sees only the folder it runs in, so the program goes there for the run.
placed_exe=
if [ ! -e "$folder/hotfx.exe" ]; then
    cp "$repo/build/windows/hotfx.exe" "$folder/"
    placed_exe=$folder/hotfx.exe
fi
xvfb_pid=
hotfx_pid=
cleanup() {
    [ -n "$hotfx_pid" ] && kill "$hotfx_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$placed_exe" ] && rm -f "$placed_exe"
    return 0
}
trap cleanup EXIT
export WINEDEBUG=${WINEDEBUG:--all}
cd "$folder"

if [ -n "${DISPLAY:-}" ]; then
    set +e
    "$repo/tools/wine-root.sh" wine hotfx.exe
    status=$?
    set -e
    echo "view: hotfx exited with code $status" >&2
    exit "$status"
fi

# No display: a private Xvfb, which picks a free number and writes it once it is ready.
fifo=$(mktemp -u "${TMPDIR:-/tmp}/hotfx-display.XXXXXX")
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb_pid=$!
number=
read -r -t 30 number <"$fifo" || true
rm -f "$fifo"
[ -n "$number" ] || { echo "view: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$number

# The seconds count from the first line hotfx prints, once the shaders are loaded (or not).
output=$(mktemp "${TMPDIR:-/tmp}/hotfx-output.XXXXXX")
"$repo/tools/wine-root.sh" wine hotfx.exe > >(tee "$output") &
hotfx_pid=$!
window=
for _ in $(seq 300); do
    [ -n "$window" ] || window=$(xdotool search --onlyvisible --name '^test$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && [ -s "$output" ] && break
    kill -0 "$hotfx_pid" 2>/dev/null || break
    sleep 0.2
done
rm -f "$output"
if [ -z "$window" ]; then
    echo "view: no window titled 'test' appeared" >&2
    exit 1
fi
sleep "${HOTFX_VIEW_SECONDS:-3}"
screenshot=${HOTFX_SCREENSHOT:-$folder/screenshot.png}
import -window root "$screenshot"
echo "view: screenshot saved to $screenshot" >&2
xdotool windowfocus --sync "$window" key Escape
set +e
wait "$hotfx_pid"
status=$?
set -e
hotfx_pid=
echo "view: hotfx exited with code $status" >&2
exit "$status"
