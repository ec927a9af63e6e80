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
