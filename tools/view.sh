#!/usr/bin/env bash
# Shows hotfx running a shader, from a fresh Debian 12 machine on.
#
#   tools/view.sh [--no-watch] [--raw]              the example shader, copied into a fresh folder
#   tools/view.sh [--no-watch] [--raw] FOLDER       FOLDER/main.fx
#   tools/view.sh [--no-watch] [--raw] SHADER.fx    that file, whatever its name; its includes
#                                                   are found beside it
#   tools/view.sh --new [...] FOLDER | SHADER.fx    first writes examples/template/main.fx as
#                                                   FOLDER/main.fx or SHADER.fx, which must not exist
#   tools/view.sh --size WIDTHxHEIGHT [...]         the picture at that size (hotfx.exe --size)
#   tools/view.sh --osc [ADDRESS:]PORT [...]        globals set by OSC messages (hotfx.exe --osc)
#   tools/view.sh --sound-in list|DEVICE|loopback [...]  the capture device that sound_in hears
#                                                   (hotfx.exe --sound-in); list shows them and ends
#   tools/view.sh --fullscreen [--monitor N] [...]  full screen from the start, on monitor N;
#   tools/view.sh --monitor list                    F11 toggles it (hotfx.exe --fullscreen, --monitor)
#
# Installs what is missing (as root), builds build/windows/hotfx.exe (HOTFX_EXE=/path/to/hotfx.exe
# runs that build instead), prepares Wine (tools/wine-root.sh; HOTFX_WINE=/path/to/wine uses your
# own Wine 9 or newer), then:
# with $DISPLAY set it opens the window there and runs until Escape; hotfx.exe --watch reloads
# the shaders on every save in the shader's folder (not with --no-watch), and F5 pressed in any
# X window is passed on to it.
# hotfx's output goes through tools/view-reader.py: compiler messages as lines editors jump to
# (/path/main.fx:LINE:COL: error: ...), the lines every frame repeats shown once with a count;
# --raw passes hotfx's bytes through unchanged instead.
# Without a display it runs on a private Xvfb for HOTFX_VIEW_SECONDS (3) seconds after it loads
# the shaders, saves a screenshot of the window to HOTFX_SCREENSHOT (default: screenshot.png in
# the current folder), sends Escape and reports the exit code.
# The sound server of the user's session (PulseAudio or PipeWire's, at $PULSE_SERVER or else
# $XDG_RUNTIME_DIR/pulse/native) is what Wine captures from.
# Nothing is written into the shader's folder but by --new, so it may be read-only: the program
# is not copied there, a SHADER.fx with another name than main.fx runs in a folder of links of
# view.sh's own (tools/view-links.py keeps them in step for --watch), and the folders view.sh
# makes go when it ends. A folder without main.fx is refused unless --new is given. view.sh
# exits with hotfx's exit code, 130 on Ctrl+C, 2 on bad arguments.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

bad_input() {
    echo "view: $1" >&2
    exit 2
}

usage="usage: tools/view.sh [--new] [--no-watch] [--raw] [--size WIDTHxHEIGHT] [--osc [ADDRESS:]PORT] [--sound-in list|DEVICE|loopback] [--fullscreen] [--monitor N|list] [FOLDER | SHADER.fx]"
watch=yes
raw=
new=
target=
size=
osc=
sound_in=
screen_args=()
while [ $# -gt 0 ]; do
    case $1 in
        --no-watch) watch= ;;
        --size) [[ ${2:-} =~ ^[1-9][0-9]{0,4}x[1-9][0-9]{0,4}$ ]] || bad_input "not a size such as 1920x1080: ${2:-}"
                size=$2; shift ;;
        --osc) [[ ${2:-} =~ ^([0-9]{1,3}(\.[0-9]{1,3}){3}:)?[1-9][0-9]{0,4}$ ]] ||
                   bad_input "not a port such as 9000 or 0.0.0.0:9000 for --osc: ${2:-}"
               osc=$2; shift ;;
        --sound-in) [ -n "${2:-}" ] || bad_input "--sound-in needs list, a device's number or a part of its name, or loopback"
                    sound_in=$2; shift ;;
        --fullscreen) screen_args+=(--fullscreen) ;;
        --monitor) [[ ${2:-} =~ ^(list|[1-9][0-9]{0,8})$ ]] || bad_input "not a monitor number from 1, or list: ${2:-}"
                   screen_args+=(--monitor "$2"); shift ;;
        --raw) raw=yes ;;
        --new) new=yes ;;
        --) shift; [ $# -le 1 ] || bad_input "one folder or file at most, not $#"; target=${1:-}; break ;;
        -*) bad_input "unknown option: $1 ($usage)" ;;
        *) [ -z "$target" ] || bad_input "one folder or file at most: $target, then $1"; target=$1 ;;
    esac
    shift
done
if [ -n "$new" ]; then
    [ -n "$target" ] || bad_input "--new needs the folder or the .fx file to start ($usage)"
    new_file=$target
    if [ -d "$target" ]; then
        new_file=$target/main.fx
    else
        [[ $target == *.fx ]] || bad_input "--new: $target is neither a folder nor a name ending in .fx"
    fi
    [ ! -e "$new_file" ] && [ ! -L "$new_file" ] || bad_input "--new: $new_file exists already"
    [ -d "$(dirname "$new_file")" ] && [ -w "$(dirname "$new_file")" ] ||
        bad_input "--new: cannot write into the folder: $(dirname "$new_file")"
elif [ -n "$target" ]; then
    [ -e "$target" ] || bad_input "no such folder or file: $target"
    if [ -d "$target" ]; then
        [ -e "$target/main.fx" ] || bad_input "no main.fx in $target; tools/view.sh --new $target starts one from the template"
        [ -f "$target/main.fx" ] && [ -r "$target/main.fx" ] || bad_input "cannot read $target/main.fx"
    else
        [ -f "$target" ] && [ -r "$target" ] || bad_input "cannot read the file: $target"
    fi
fi
# A SHADER.fx that is not main.fx runs in a folder of links.
linked=
[ -z "$target" ] || [ -d "$target" ] || [ "$(basename "$target")" = main.fx ] || linked=yes
if [ -z "${DISPLAY:-}" ]; then
    screenshot=${HOTFX_SCREENSHOT:-$PWD/screenshot.png}
    shots=$(dirname "$screenshot")
    [ -d "$shots" ] && [ -w "$shots" ] || bad_input "cannot write the screenshot into $shots; set HOTFX_SCREENSHOT"
    screenshot=$(cd "$shots" && pwd)/$(basename "$screenshot")
fi

. "$repo/tools/host-packages.sh"
# Only what this run uses.
packages=()
[ -n "${HOTFX_EXE:-}" ] || packages+=("${build_packages[@]}")
if [ -n "${DISPLAY:-}" ]; then
    packages+=("${wine_packages[@]}" "${live_packages[@]}")
else
    packages+=("${run_packages[@]}" "${screenshot_packages[@]}")
fi
if [ -z "$raw" ] || [ "$linked$watch" = yesyes ]; then
    packages+=(python3)
fi
need_packages "${packages[@]}"
[ -n "${HOTFX_EXE:-}" ] || build_hotfx "$repo"
exe=${HOTFX_EXE:-$repo/build/windows/hotfx.exe}
"$repo/tools/wine-root.sh" setup
if [ -n "$new" ]; then
    cp "$repo/examples/template/main.fx" "$new_file"
    echo "view: $new_file started from examples/template/main.fx" >&2
fi

cleanup_files=()
shader_folder "$target" view
shader=$folder/main.fx
[ -z "$shaders" ] || shader=$shaders/$(basename "$target")

show_program "$exe"
hotfx_args=()
[ -z "$watch" ] || hotfx_args+=(--watch)
[ -z "$size" ] || hotfx_args+=(--size "$size")
[ -z "$osc" ] || hotfx_args+=(--osc "$osc")
[ -z "$sound_in" ] || hotfx_args+=(--sound-in "$sound_in")
pulse_socket=${PULSE_SERVER:-unix:${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native}
[ -z "$sound_in" ] || [ ! -S "${pulse_socket#unix:}" ] || export HOTFX_PULSE=${pulse_socket#unix:}
hotfx_args+=("${screen_args[@]}")
xvfb_pid=
hotfx_pid=
live_pid=
links_pid=
reader_pid=
# hotfx runs in a session of its own, so that Ctrl+C in the terminal reaches view.sh alone,
# which then ends it: otherwise Wine would end of itself with a code of its own, and view.sh
# would report that.
# Should view.sh be killed outright, with no cleanup, the kernel kills the run's
# wine-root.sh (setpriv's parent-death signal), and bwrap's --die-with-parent ends Wine's
# processes with it: in a session of their own, nothing else would end them.
cleanup() {
    [ -z "$live_pid" ] || { kill "$live_pid" 2>/dev/null; wait "$live_pid" 2>/dev/null; } || true
    [ -z "$links_pid" ] || { kill "$links_pid" 2>/dev/null; wait "$links_pid" 2>/dev/null; } || true
    [ -z "$hotfx_pid" ] || end_wine_run "$hotfx_pid"
    [ -z "$reader_pid" ] || { exec 4>&-; wait "$reader_pid"; } || true
    [ -z "$xvfb_pid" ] || { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; } || true
    [ ${#cleanup_files[@]} -eq 0 ] || rm -f "${cleanup_files[@]}"
    rm -f "${xvfb_fifo:-}"
    [ -z "$own_folder" ] || rm -rf "$own_folder"
    return 0
}
# Ends view.sh with hotfx's exit code once it has ended of itself (Escape, closing the window).
end_with_hotfx() {
    local status=0
    wait "$hotfx_pid" || status=$?
    hotfx_pid=
    # The reader ends once it has shown all that hotfx printed.
    [ -z "$reader_pid" ] || wait "$reader_pid" || true
    reader_pid=
    echo "view: hotfx exited with code $status" >&2
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
export WINEDEBUG=${WINEDEBUG:--all}
cd "$folder"

# Opens file descriptor 4 for hotfx's output: the reader's input, or with --raw this script's
# own standard output. Called just before hotfx starts, and closed just after, so that nothing
# else holds the reader's input open and the reader ends when hotfx does.
open_hotfx_output() {
    if [ -n "$raw" ]; then
        exec 4>&1
        return
    fi
    local fifo wine_folder=/job
    [ -z "${HOTFX_WINE:-}" ] || wine_folder=
    # Both ends are opened here, the writing end first, so that no open waits for the other.
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/hotfx-reader.XXXXXX")
    mkfifo "$fifo"
    exec 4<>"$fifo" 5<"$fifo"
    rm -f "$fifo"
    /usr/bin/python3 "$repo/tools/view-reader.py" "$folder" $wine_folder <&5 4>&- 5<&- &
    reader_pid=$!
    exec 5<&-
}

if [ -n "$linked" ] && [ -n "$watch" ]; then
    /usr/bin/python3 "$repo/tools/view-links.py" $$ "$shaders" "$folder" "$(basename "$target")" &
    links_pid=$!
fi

if [ -n "${DISPLAY:-}" ]; then
    # The companion finds hotfx's window among those of this script's descendants and passes
    # F5 on to it. hotfx runs in the background so that a signal to this script is acted on at
    # once, not when it ends.
    /usr/bin/python3 "$repo/tools/view-live.py" $$ &
    live_pid=$!
    if [ -n "$watch" ]; then
        echo "view: running hotfx on $shader; every save reloads it, as does F5" >&2
    else
        echo "view: running hotfx on $shader; press F5 to reload it" >&2
    fi
    open_hotfx_output
    setsid -w setpriv --pdeathsig KILL "$repo/tools/wine-root.sh" wine "${exit_code_kept[@]}" "${hotfx_args[@]}" >&4 4>&- &
    hotfx_pid=$!
    exec 4>&-
    end_with_hotfx
fi
echo "view: running hotfx on $shader" >&2

# No display: a private Xvfb.
start_xvfb view

# The seconds count from the first line hotfx prints, once the shaders are loaded (or not).
output=$(mktemp "${TMPDIR:-/tmp}/hotfx-output.XXXXXX")
cleanup_files+=("$output")
open_hotfx_output
setsid -w setpriv --pdeathsig KILL "$repo/tools/wine-root.sh" wine "${exit_code_kept[@]}" "${hotfx_args[@]}" > >(tee "$output" >&4) 4>&- &
hotfx_pid=$!
exec 4>&-
window=
for _ in $(seq 300); do
    [ -n "$window" ] || window=$(xdotool search --onlyvisible --name '^test$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && [ -s "$output" ] && break
    kill -0 "$hotfx_pid" 2>/dev/null || break
    sleep 0.2
done
rm -f "$output"
if [ -z "$window" ]; then
    kill -0 "$hotfx_pid" 2>/dev/null || end_with_hotfx
    echo "view: no window titled 'test' appeared" >&2
    exit 1
fi
sleep "${HOTFX_VIEW_SECONDS:-3}"
# The window's own contents: the client area, without the rest of the virtual screen.
import -window "$window" "$screenshot"
echo "view: screenshot saved to $screenshot" >&2
xdotool windowfocus --sync "$window" key Escape
end_with_hotfx
