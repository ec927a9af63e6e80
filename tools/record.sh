#!/usr/bin/env bash
# Records frames of a shader exactly as hotfx draws them live, as a video or as PNG files.
#
#   tools/record.sh [--size WIDTHxHEIGHT] [FOLDER | SHADER.fx] FIRST LAST OUT
#
# FOLDER/main.fx, or SHADER.fx (a file named main.fx runs in its own folder; any other name
# runs in a fresh folder of links to its folder's files, main.fx leading to it), or without
# either the example shader. FIRST and LAST are frame numbers, LAST included. OUT ending in
# .mp4, .webm or .gif becomes a video at
# 60 frames a second, one hotfx frame per video frame (the time steps by 1/60 s a frame),
# encoded by ffmpeg (a GIF, whose delays are hundredths of a second, plays them at 50 a
# second); any other OUT is a folder that receives the pictures, PNG files
# named by frame number (0000000042.png), 1280x1024 or as --size says. For a video hotfx
# writes its frames' raw pixels into a pipe to ffmpeg (`--frames FIRST LAST -`), so nothing
# is written but the video, and OUT appears only once the video is whole. An .mp4 or .webm
# also gets the sound that the shader reads (the first sampler NAME declared in main.fx, not
# keyboard, previous_frame or a pass ps_NAME, with NAME.wav beside it; where stages read
# different WAVs, live hotfx plays the vertex stage's first, which may be another), from the
# first frame's time on, cut to the video's length
# and padded with silence past its end: AAC in an .mp4, Opus in a .webm, at 48000 a second.
#
# Installs what is missing (as root), builds build/windows/hotfx.exe (HOTFX_EXE=/path/to/hotfx.exe
# records with that build instead), prepares Wine (tools/wine-root.sh) and runs
# `hotfx.exe --frames` on a private Xvfb, with no window shown. On a terminal a progress bar
# shows the frames saved, the total and the time left; hotfx's own lines go to stderr too.
# Exits with hotfx's code when it fails (3: the shader did not compile, or an input it reads
# could not be filled; 4: a picture could not be written), 1 when ffmpeg fails, 2 on bad
# arguments.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: tools/record.sh [--size WIDTHxHEIGHT] [FOLDER | SHADER.fx] FIRST LAST OUT.mp4|OUT.webm|OUT.gif|OUT-FOLDER"

bad_input() {
    echo "record: $1; $usage" >&2
    exit 2
}

size=1280x1024 size_option=()
if [ "${1:-}" = --size ]; then
    [[ ${2:-} =~ ^[1-9][0-9]{0,4}x[1-9][0-9]{0,4}$ ]] || bad_input "not a size such as 1920x1080: ${2:-}"
    size=$2 size_option=(--size "$2")
    shift 2
fi
case $# in
    3) target= ;;
    4) target=$1; shift ;;
    *) bad_input "$# arguments, not 3 or 4" ;;
esac
first=$1 last=$2 out=$3
[[ $first =~ ^[0-9]{1,10}$ ]] && [ "$first" -le 2147483647 ] || bad_input "not a frame number: $first"
[[ $last =~ ^[0-9]{1,10}$ ]] && [ "$last" -le 2147483647 ] || bad_input "not a frame number: $last"
# Decimal, whatever zeros lead: bash's arithmetic would read 010 as octal.
first=$((10#$first)) last=$((10#$last))
[ "$last" -ge "$first" ] || bad_input "the last frame comes before the first: $last"
if [ -n "$target" ]; then
    [ -e "$target" ] || bad_input "no such folder or file: $target"
    if [ -d "$target" ]; then
        [ -w "$target" ] && [ -x "$target" ] || bad_input "cannot write into the folder: $target"
        [ -f "$target/main.fx" ] && [ -r "$target/main.fx" ] || bad_input "no main.fx to read in $target"
    else
        [ -f "$target" ] && [ -r "$target" ] || bad_input "cannot read the file: $target"
    fi
fi
[ -n "$out" ] || bad_input "an empty name for the output"
case $out in
    *.mp4) codec=(-c:v libx264 -pix_fmt yuv420p -crf 18) ;;
    *.webm) codec=(-c:v libvpx-vp9 -pix_fmt yuv420p -crf 30 -b:v 0 -deadline good -cpu-used 4 -row-mt 1) ;;
    # One palette made for the whole clip keeps the colours steady from frame to frame.
    *.gif) codec=(-filter_complex "split[a][b];[a]palettegen[p];[b][p]paletteuse") ;;
    *) codec=()
       [ ! -e "$out" ] || [ -d "$out" ] || bad_input "not a folder, nor .mp4, .webm or .gif: $out" ;;
esac
# The encoders' 4:2:0 chroma halves both sides.
[[ $out != *.mp4 && $out != *.webm ]] || [ $((${size%x*} % 2 + ${size#*x} % 2)) -eq 0 ] ||
    bad_input "an .mp4 or .webm needs an even width and height, not $size"
out_dir=$(dirname "$out")
[ -d "$out_dir" ] && [ -w "$out_dir" ] || bad_input "cannot write into the folder: $out_dir"
out=$(cd "$out_dir" && pwd)/$(basename "$out")

. "$repo/tools/host-packages.sh"
# Only what this run uses: no compiler for a build named by HOTFX_EXE, no ffmpeg for pictures.
packages=("${run_packages[@]}")
[ -n "${HOTFX_EXE:-}" ] || packages+=("${build_packages[@]}")
[ ${#codec[@]} -eq 0 ] || packages+=("${record_packages[@]}")
need_packages "${packages[@]}"
[ -n "${HOTFX_EXE:-}" ] || build_hotfx "$repo"
exe=${HOTFX_EXE:-$repo/build/windows/hotfx.exe}
"$repo/tools/wine-root.sh" setup

shader_folder "$target" record
show_program "$exe"

# The sound hotfx reads, found as it finds it, though only in main.fx itself, not in what it
# includes; Windows' names are blind to case.
sound=
if [[ $out == *.mp4 || $out == *.webm ]]; then
    while read -r name; do
        case $name in keyboard | previous_frame) continue ;; esac
        ! grep -qE "\bps_$name[[:space:]]*\(" "$folder/main.fx" || continue
        sound=$(find "$folder" -maxdepth 1 -iname "$name.wav" -print -quit)
        [ -z "$sound" ] || break
    done < <(grep -oE '\bsampler(2D)?[[:space:]]+[A-Za-z_][A-Za-z0-9_]*' "$folder/main.fx" | awk '{ print $2 }')
fi
audio_in=() audio_out=()
if [ -n "$sound" ]; then
    # The first frame's time as hotfx reaches it: one float addition of 0.016666 a frame, which
    # the double sum in Perl rounds exactly as a float sum does while the time is below 2^19,
    # where it stops growing.
    offset=$(perl -e '$s = unpack("f", pack("f", 0.016666)); $t = 0;
        for (1 .. $ARGV[0]) { $n = unpack("f", pack("f", $t + $s)); last if $n == $t; $t = $n }
        printf "%.6f", $t' "$first")
    audio_in=(-ss "$offset" -i "$sound")
    audio_out=(-map 0:v -map 1:a -af apad -t "$(awk -v n="$((last - first + 1))" 'BEGIN { printf "%.6f", n / 60 }')" -ar 48000)
    case $out in
        *.mp4) audio_out+=(-c:a aac -b:a 192k) ;;
        *.webm) audio_out+=(-c:a libopus -b:a 128k) ;;
    esac
fi
if [ ${#codec[@]} -eq 0 ]; then
    # Wine sees only the folder it runs in, so the pictures go there for the run.
    frames=$(mktemp -d "$folder/.hotfx-frames.XXXXXX")
else
    pipes=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-record.XXXXXX")
    mkfifo "$pipes/frames" "$pipes/video"
    # ffmpeg picks the container from the name's ending.
    partial=$(mktemp -u "$(dirname "$out")/.hotfx-record.XXXXXX")-${out##*/}
fi
xvfb_pid=
hotfx_pid=
cat_pid=
ffmpeg_pid=
cleanup() {
    # Every step runs, whatever the one before returned (a wait on a killed process fails).
    set +e
    [ -n "$hotfx_pid" ] && end_wine_run "$hotfx_pid"
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    [ -n "$cat_pid" ] && kill "$cat_pid" 2>/dev/null && wait "$cat_pid" 2>/dev/null
    [ -n "$ffmpeg_pid" ] && kill "$ffmpeg_pid" 2>/dev/null && wait "$ffmpeg_pid" 2>/dev/null
    rm -rf "${frames:-}" "${pipes:-}"
    rm -f "${partial:-}"
    rm -f "${xvfb_fifo:-}"
    [ -n "$own_folder" ] && rm -rf "$own_folder"
    return 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
export WINEDEBUG=${WINEDEBUG:--all} DXVK_LOG_LEVEL=${DXVK_LOG_LEVEL:-none}

start_xvfb record

# One bar line, rewritten in place: frames saved, the total, and the time left at the rate so far.
progress() {
    local done=$1 total=$2 started=$3 width=30 now left="" filled
    now=$(date +%s)
    if [ "$done" -gt 0 ]; then
        left=$(( (now - started) * (total - done) / done ))
        left=$(printf ', %d:%02d left' $((left / 60)) $((left % 60)))
    fi
    filled=$((done * width / total))
    printf '\rrecord: [%s%s] %d/%d frames%s ' "$(printf '%*s' "$filled" '' | tr ' ' '#')" \
        "$(printf '%*s' $((width - filled)) '' | tr ' ' '.')" "$done" "$total" "$left" >&2
}

total=$((last - first + 1))
cd "$folder"
echo "record: frames $first to $last of $folder/main.fx${sound:+, with the sound of ${sound##*/} from ${offset} s}" >&2
if [ -n "${frames:-}" ]; then
    "$repo/tools/wine-root.sh" wine "${exit_code_kept[@]}" "${size_option[@]}" --frames "$first" "$last" "${frames##*/}\\%010u.png" >&2 &
    hotfx_pid=$!
else
    # Each background job opens its fifos itself, so none of the opens can hold this shell up.
    "$repo/tools/wine-root.sh" wine "${exit_code_kept[@]}" "${size_option[@]}" --frames "$first" "$last" - > "$pipes/frames" &
    hotfx_pid=$!
    # cat passes the frames on, and the kernel counts the bytes it has written (/proc/PID/io),
    # which says how many frames have reached ffmpeg.
    cat < "$pipes/frames" > "$pipes/video" &
    cat_pid=$!
    ffmpeg -loglevel error -y -f rawvideo -pixel_format bgr0 -video_size "$size" -framerate 60 -i pipe:0 \
        "${audio_in[@]}" "${codec[@]}" "${audio_out[@]}" "$partial" < "$pipes/video" &
    ffmpeg_pid=$!
fi

# The frames saved so far: the pictures in the folder, or the whole frames cat has passed on.
saved() {
    local key bytes
    if [ -n "${frames:-}" ]; then
        find "$frames" -name "*.png" | wc -l
    elif read -r key bytes < <(grep '^wchar:' "/proc/$cat_pid/io" 2>/dev/null); then
        echo $((bytes / (${size%x*} * ${size#*x} * 4)))
    else
        echo 0
    fi
}

[ ! -t 2 ] || started=$(date +%s)
while kill -0 "$hotfx_pid" 2>/dev/null; do
    if [ -t 2 ]; then
        # From the first frame on, after what hotfx prints when it loads the shader.
        count=$(saved)
        [ "$count" -eq 0 ] || progress "$count" "$total" "$started"
    fi
    sleep 0.1
done
status=0
wait "$hotfx_pid" || status=$?
hotfx_pid=
if [ -t 2 ]; then
    [ "$status" -ne 0 ] || progress "$total" "$total" "$started"
    echo >&2
fi

if [ -n "${frames:-}" ]; then
    [ "$status" -eq 0 ] || { echo "record: hotfx exited with code $status" >&2; exit "$status"; }
    count=$(saved)
    [ "$count" -eq "$total" ] || { echo "record: hotfx saved $count of the $total pictures" >&2; exit 1; }
    mkdir -p "$out"
    find "$frames" -name "*.png" -exec mv -t "$out" {} +
    echo "record: $total frames as PNG files in $out" >&2
else
    # 4 here means that the pipe closed: ffmpeg ended before it had every frame.
    [ "$status" -eq 0 ] || [ "$status" -eq 4 ] || { echo "record: hotfx exited with code $status" >&2; exit "$status"; }
    encoded=0
    wait "$ffmpeg_pid" || encoded=$?
    ffmpeg_pid=
    [ "$encoded" -eq 0 ] && [ "$status" -eq 0 ] || { echo "record: ffmpeg could not make $out" >&2; exit 1; }
    mv "$partial" "$out"
    echo "record: $total frames at 60 fps in $out" >&2
fi
