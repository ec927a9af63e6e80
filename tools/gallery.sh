#!/usr/bin/env bash
# Renders the examples into the gallery: each examples/NAME/main.fx runs in hotfx on a private
# Xvfb, and a picture of the window's contents is saved as docs/gallery/NAME.png.
#
#   tools/gallery.sh              every folder under examples/
#   tools/gallery.sh NAME...      only those examples
#
# Installs what is missing (as root), builds build/windows/hotfx.exe and prepares Wine as
# tools/view.sh does. Each example runs for HOTFX_GALLERY_SECONDS (5) after it loads; the
# frame rate it reached meanwhile is printed, as Wine's own Direct3D (wined3d) reports it.
# Exits 1 if an example did not load, 2 on a name that is not an example.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/tools/host-packages.sh"

# Pictures keep the back buffer's 5:4, small enough for a README table.
picture_size=400x320
largest_picture=150000
seconds=${HOTFX_GALLERY_SECONDS:-5}

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for source in "$repo"/examples/*/main.fx; do
        names+=("$(basename "$(dirname "$source")")")
    done
fi
for name in "${names[@]}"; do
    if [ ! -f "$repo/examples/$name/main.fx" ]; then
        echo "gallery: no example named '$name' (no examples/$name/main.fx)" >&2
        exit 2
    fi
done

need_packages "${build_packages[@]}" "${run_packages[@]}"
build_hotfx "$repo"
"$repo/tools/wine-root.sh" setup
mkdir -p "$repo/docs/gallery"

work=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-gallery.XXXXXX")
xvfb_pid=
hotfx_pid=
cleanup() {
    [ -n "$hotfx_pid" ] && kill -- -"$hotfx_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
    return 0
}
trap cleanup EXIT

# A private Xvfb, which picks a free number and writes it once it is ready.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
number=
read -r -t 30 number <"$work/display" || true
[ -n "$number" ] || { echo "gallery: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$number

# Waits for the window titled "test" and hotfx's first line; prints the window's id.
wait_for_window() {
    local window=
    for _ in $(seq 600); do
        [ -n "$window" ] || window=$(xdotool search --onlyvisible --name '^test$' 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && [ -s "$1" ] && break
        kill -0 "$hotfx_pid" 2>/dev/null || break
        sleep 0.2
    done
    echo "$window"
}

# The mean of wined3d's reports but the first two: the first comes at the first present, as
# a rate of 0, and the second covers the start.
frame_rate() {
    grep -o 'wined3d_cs_exec_present .* approx [0-9.]*fps' "$1" | sed 's/.* approx //; s/fps//' | tail -n +3 |
        awk '{ sum += $1; count++ } END { if (count) printf "%.1f fps", sum / count; else print "no fps reports" }'
}

# Saves the window's contents at the back buffer's proportions; a picture over the limit is
# brought down to 128 colours, which gradients survive well enough at this size.
save_picture() {
    local window=$1 target=$2
    import -window "$window" "$work/shot.png"
    convert "$work/shot.png" -resize "$picture_size!" -strip "$target"
    if [ "$(stat -c %s "$target")" -gt "$largest_picture" ]; then
        convert "$work/shot.png" -resize "$picture_size!" -strip -dither FloydSteinberg -colors 128 "$target"
    fi
}

failed=0
for name in "${names[@]}"; do
    run=$work/$name
    mkdir -p "$run"
    cp "$repo/examples/$name/main.fx" "$repo/build/windows/hotfx.exe" "$run/"
    # Through a pipe: into a file, hotfx's output would wait in its buffer until it ends.
    # A session of its own, so that the whole run can be ended by its id. Through a pipe:
    # into a file, hotfx's output would wait in its buffer until it ends.
    (cd "$run" && exec setsid env WINEDEBUG=+fps "$repo/tools/wine-root.sh" wine hotfx.exe \
        > >(cat >output.txt) 2>trace.txt) &
    hotfx_pid=$!
    window=$(wait_for_window "$run/output.txt")
    first_line=$(head -n 1 "$run/output.txt" | tr -d '\r')
    if [ -z "$window" ] || [ "$first_line" != "Load Shader." ]; then
        echo "gallery: $name did not load: ${first_line:-no window and no output}" >&2
        failed=1
    else
        sleep "$seconds"
        save_picture "$window" "$repo/docs/gallery/$name.png"
        echo "gallery: $name: docs/gallery/$name.png, $(stat -c %s "$repo/docs/gallery/$name.png") bytes," \
             "$(frame_rate "$run/trace.txt") over ${seconds} s" >&2
        xdotool windowfocus --sync "$window" key Escape
    fi
    for _ in $(seq 100); do
        kill -0 "$hotfx_pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -- -"$hotfx_pid" 2>/dev/null || true
    wait "$hotfx_pid" 2>/dev/null || true
    hotfx_pid=
done
exit "$failed"
