# Sourced by the tools scripts: installs the Debian packages that are missing on this machine.
#   need_packages PACKAGE...
need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "hotfx: missing packages; as root run: apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "hotfx: installing ${missing[*]}" >&2
    # The package lists may be absent or stale on a fresh machine.
    apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2
}

# What it takes to build hotfx.exe and to show it on a virtual display.
build_packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev cmake ninja-build)
run_packages=(mmdebstrap bubblewrap xvfb xdotool imagemagick x11-utils)
# What view.sh needs on an X display to reload on save and to pass on F5 from any window.
live_packages=(python3-xlib inotify-tools)
# And what the tests and benchmarks need besides.
test_packages=(g++ libgtest-dev libgmock-dev libbenchmark-dev valgrind python3-pytest python3-numpy)
# What record.sh needs to make a video of the frames.
record_packages=(ffmpeg)
# Real editors: their own parsers read view.sh's error lines, and they save the shader of a
# running hotfx.exe --watch, driven through tmux.
editor_packages=(tmux vim nano emacs-nox)

# Builds build/windows/hotfx.exe from the sources in $1, configuring the first time.
build_hotfx() {
    local repo=$1
    if [ ! -f "$repo/build/windows/build.ninja" ]; then
        (cd "$repo" && cmake --preset windows >&2)
    fi
    (cd "$repo" && cmake --build --preset windows >&2)
}

# The folder hotfx runs in, for a tool's [FOLDER | SHADER.fx] argument $1, checked already:
# that folder; the folder of a file named main.fx; or a fresh folder named after the tool ($2)
# holding any other file, or $repo's example shader when there is no argument, as main.fx.
# Sets folder, and own_folder to the fresh folder, which the tool's cleanup removes.
shader_folder() {
    own_folder=
    if [ -d "$1" ]; then
        folder=$(cd "$1" && pwd)
    elif [ -n "$1" ] && [ "$(basename "$1")" = main.fx ]; then
        folder=$(cd "$(dirname "$1")" && pwd)
    else
        folder=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-$2.XXXXXX")
        own_folder=$folder
        cp "${1:-$repo/examples/rings/main.fx}" "$folder/main.fx"
    fi
}

# The build $1 as Wine runs it, whatever hotfx.exe the folder may hold, and without a copy in
# the folder: shown read-only inside tools/wine-root.sh's root, or by its own path to a Wine of
# the user's (HOTFX_WINE). Sets wine_program to the path that Wine is given, and
# exit_code_kept to a command that runs it through cmd.exe: Wine now and then loses the exit
# code of a program that ends while threads of the Direct3D stack are being ended, and cmd.exe,
# as any Windows parent, asks Wine for it and exits with it.
show_program() {
    local exe
    exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    if [ -n "${HOTFX_WINE:-}" ]; then
        wine_program=$exe
    else
        export HOTFX_PROGRAM=$exe
        wine_program=/tmp/hotfx/hotfx.exe
    fi
    exit_code_kept=(cmd /c "Z:${wine_program//\//\\}")
}

# Ends a run of tools/wine-root.sh started in the background as $1. It acts on a signal only
# once its bwrap has ended, so bwrap goes first, and the Wine processes inside with it.
end_wine_run() {
    local bwrap
    for bwrap in $(cat /proc/"$1"/task/*/children 2>/dev/null); do kill "$bwrap" 2>/dev/null || true; done
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# Starts a private Xvfb for a tool that runs without a display: the server picks a free number
# and writes it once it accepts clients, so there is neither a race for the number nor a sleep.
# Sets xvfb_pid and exports DISPLAY; $1 names the tool in the one line said when it fails. The
# tool's cleanup removes $xvfb_fifo, in case it is ended while the server starts.
start_xvfb() {
    local number=
    xvfb_fifo=$(mktemp -u "${TMPDIR:-/tmp}/hotfx-display.XXXXXX")
    mkfifo "$xvfb_fifo"
    Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$xvfb_fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 30 number <"$xvfb_fifo" || true
    rm -f "$xvfb_fifo"
    [ -n "$number" ] || { echo "$1: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$number
}
