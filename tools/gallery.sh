#!/usr/bin/env bash
# Renders the examples into the gallery: hotfx draws each examples/NAME/main.fx at the frame
# stated for it below, unscaled (`hotfx.exe --frame`), and the picture, made small, is saved
# as docs/gallery/NAME.png. The same frame gives the same bytes every time.
#
#   tools/gallery.sh              every folder under examples/
#   tools/gallery.sh NAME...      only those examples
#
# Installs what is missing (as root), builds build/windows/hotfx.exe and prepares Wine as
# tools/view.sh does; hotfx runs on a private Xvfb without showing its window.
# HOTFX_GALLERY_OUT=FOLDER writes the pictures there instead of docs/gallery.
# Exits 1 if an example did not render, 2 on a name that is not an example or has no frame.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/tools/host-packages.sh"

# Pictures keep the back buffer's 5:4, small enough for a README table.
picture_size=400x320
largest_picture=150000
gallery=${HOTFX_GALLERY_OUT:-$repo/docs/gallery}

# The moment each example is shown at. Frame N draws with c0.x = N additions of 0.016666,
# about N/60 seconds into a live run.
declare -A frames=(
    [template]=90      # blue near its brightest
    [rings]=300
    [pattern]=0        # still
    [palette]=300
    [shapes]=120
    [raymarch]=300
    [clock]=754        # the counter reads 12.56
    [filter]=0         # the divider in the middle
    [paint]=600        # the brush that paints until the first click, ten seconds in
    [life]=200
    [live]=300         # in silence, as --frame hears it: the disc turned, the spokes at rest
    [blur]=0           # the blur at its widest
    [reaction]=800     # rings split into cells; --frame draws the 800 frames before it
    [music]=123        # 2.05 s: a kick has just struck, the tone halfway up its glide
    [keys]=0           # every key up, as --frame reads them
    [tuned]=100        # with the values in its main.values
    [reflect]=1100     # the sun behind the ball, low over the ground
)

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
    if [ -z "${frames[$name]:-}" ]; then
        echo "gallery: no frame stated for '$name' in tools/gallery.sh" >&2
        exit 2
    fi
done

need_packages "${build_packages[@]}" "${run_packages[@]}" imagemagick
build_hotfx "$repo"
"$repo/tools/wine-root.sh" setup
mkdir -p "$gallery"
show_program "$repo/build/windows/hotfx.exe"

work=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-gallery.XXXXXX")
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
    rm -f "${xvfb_fifo:-}"
    return 0
}
trap cleanup EXIT

start_xvfb gallery
export WINEDEBUG=-all DXVK_LOG_LEVEL=none

# Makes the unscaled picture small at the back buffer's proportions, without the dates that
# would make each run's file differ; a picture over the limit is brought down to 128 colours,
# which gradients survive well enough at this size.
make_small() {
    local picture=$1 target=$2 same=(-strip -define png:exclude-chunks=date,time)
    convert "$picture" -resize "$picture_size!" "${same[@]}" "$target"
    if [ "$(stat -c %s "$target")" -gt "$largest_picture" ]; then
        convert "$picture" -resize "$picture_size!" -dither FloydSteinberg -colors 128 "${same[@]}" "$target"
    fi
}

failed=0
for name in "${names[@]}"; do
    run=$work/$name
    mkdir -p "$run"
    # An example may bring images of its own.
    cp "$repo/examples/$name/"* "$run/"
    status=0
    (cd "$run" && "$repo/tools/wine-root.sh" wine "${exit_code_kept[@]}" --frame "${frames[$name]}" frame.png \
        >output.txt 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        echo "gallery: $name did not render (exit code $status): $(head -n 1 "$run/output.txt" | tr -d '\r')" >&2
        failed=1
        continue
    fi
    make_small "$run/frame.png" "$gallery/$name.png"
    echo "gallery: $name: frame ${frames[$name]}, $gallery/$name.png, $(stat -c %s "$gallery/$name.png") bytes" >&2
done
exit "$failed"
