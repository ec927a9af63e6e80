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

# What it takes to build hotfx.exe (not with HOTFX_EXE, which names a build).
build_packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev cmake ninja-build)
# What a run under Wine takes: tools/wine-root.sh's sandbox, unless HOTFX_WINE names a Wine of
# the user's (wine-root.sh asks for mmdebstrap itself when it builds its root); and, for a
# tool that shows no window, a private X display.
wine_packages=(bubblewrap)
[ -z "${HOTFX_WINE:-}" ] || wine_packages=()
run_packages=("${wine_packages[@]}" xvfb)
# What view.sh needs without a display to find hotfx's window and take its picture, and on an
# X display to pass on F5 from any window.
screenshot_packages=(xdotool imagemagick)
live_packages=(python3-xlib)
# A sound server whose sink records in real time, for hearing what hotfx plays.
sound_packages=(pulseaudio pulseaudio-utils)
# An OSC client written by others (oscsend), for sending hotfx --osc its messages.
osc_packages=(liblo-tools)
# And what the tests and benchmarks need besides.
test_packages=(g++ libgtest-dev libgmock-dev libbenchmark-dev valgrind python3-pytest python3-numpy x11-utils
               "${sound_packages[@]}" "${osc_packages[@]}")
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
# that folder; the folder of a file named main.fx; or a fresh folder named after the tool ($2).
# Without an argument the fresh folder holds $repo's example shader as main.fx. For any other
# file it holds links: main.fx to the file, and each other entry of the file's folder to that
# entry, so that the file's includes are found as beside it, and nothing is written there.
# Wine in tools/wine-root.sh's root sees hotfx's folder as /job and the file's folder,
# read-only, as /tmp/hotfx/shaders (HOTFX_SHADERS): the links lead to ../tmp/hotfx/shaders/NAME,
# and on the host the fresh folder's tmp/hotfx/shaders is a link to the file's folder.
# Sets folder; own_folder to what the tool's cleanup removes; shaders to the file's folder when
# there are links, else to nothing.
shader_folder() {
    own_folder= shaders=
    if [ -d "$1" ]; then
        folder=$(cd "$1" && pwd)
        return
    elif [ -n "$1" ] && [ "$(basename "$1")" = main.fx ]; then
        folder=$(cd "$(dirname "$1")" && pwd)
        return
    fi
    own_folder=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-$2.XXXXXX")
    folder=$own_folder/job
    mkdir "$folder"
    if [ -z "$1" ]; then
        cp "$repo/examples/rings/main.fx" "$folder/"
        return
    fi
    shaders=$(cd "$(dirname "$1")" && pwd)
    export HOTFX_SHADERS=$shaders
    mkdir -p "$own_folder/tmp/hotfx"
    ln -s "$shaders" "$own_folder/tmp/hotfx/shaders"
    local entry name
    for entry in "$shaders"/* "$shaders"/.[!.]* "$shaders"/..?*; do
        name=${entry##*/}
        # Windows' names are blind to case: another main.fx would stand beside the link.
        { [ -e "$entry" ] || [ -L "$entry" ]; } && [ "${name,,}" != main.fx ] || continue
        ln -s "../tmp/hotfx/shaders/$name" "$folder/$name"
    done
    ln -s "../tmp/hotfx/shaders/$(basename "$1")" "$folder/main.fx"
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
    # Without bwrap (HOTFX_WINE), hotfx.exe started by cmd.exe is no child of the run: a run
    # started with setsid leads the process group that holds them all.
    kill -- -"$1" 2>/dev/null || kill "$1" 2>/dev/null || true
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
