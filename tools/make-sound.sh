#!/usr/bin/env bash
# Synthesises a sound for a shader to react to, so that an example needs no one's music.
#
#   tools/make-sound.sh OUT.wav [SECONDS [RATE [CHANNELS]]]
#
# SECONDS (8 unless given, 1 to 600) of 16-bit sound, RATE samples a second (44100 unless
# given, 8000 to 96000), CHANNELS 2 (stereo) unless given as 1, at 120 beats a minute:
# a kick whose pitch falls on every beat, a hi-hat between beats, and a tone gliding from
# 110 Hz to 1760 Hz and back, so that the spectrum shows a low pulse, a high tick and one peak
# that moves. The same arguments give the same file. Installs Debian's sox where missing (as
# root). Exits 2 with one line on bad arguments, 1 when sox fails.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: tools/make-sound.sh OUT.wav [SECONDS [RATE [CHANNELS]]]"

bad_input() {
    echo "make-sound: $1; $usage" >&2
    exit 2
}

[ $# -ge 1 ] && [ $# -le 4 ] || bad_input "$# arguments, not 1 to 4"
out=$1 seconds=${2:-8} rate=${3:-44100} channels=${4:-2}
[[ $seconds =~ ^[0-9]{1,3}$ ]] && [ "$((10#$seconds))" -ge 1 ] && [ "$((10#$seconds))" -le 600 ] ||
    bad_input "not a whole number of seconds from 1 to 600: $seconds"
seconds=$((10#$seconds))
[[ $rate =~ ^[0-9]{4,5}$ ]] && [ "$((10#$rate))" -ge 8000 ] && [ "$((10#$rate))" -le 96000 ] ||
    bad_input "not a whole number of samples a second from 8000 to 96000: $rate"
rate=$((10#$rate))
[[ $channels =~ ^[12]$ ]] || bad_input "not 1 or 2 channels: $channels"
[[ ${out,,} == *.wav ]] || bad_input "not a .wav name: $out"
out_dir=$(dirname "$out")
[ -d "$out_dir" ] && [ -w "$out_dir" ] || bad_input "cannot write into the folder: $out_dir"
[ ! -d "$out" ] || bad_input "a folder, not a file: $out"

. "$repo/tools/host-packages.sh"
need_packages sox

# Repeatable: the noise and the dither from a fixed seed.
sox() { command sox -R "$@"; }
parts=$(mktemp -d "${TMPDIR:-/tmp}/hotfx-sound.XXXXXX")
trap 'rm -rf "$parts"' EXIT
# One beat of each, half a second, repeated for the whole length.
beats=$((seconds * 2))
format=(-r "$rate" -b 16 -c "$channels")
sox -n "${format[@]}" "$parts/kick.wav" synth 0.18 sine 160-45 fade 0 0.18 0.15 pad 0 0.32 vol 0.55 repeat $((beats - 1))
sox -n "${format[@]}" "$parts/hat.wav" synth 0.04 whitenoise vol 0.2 highpass 6000 fade 0 0.04 0.035 pad 0.25 0.21 \
    repeat $((beats - 1))
half=$(awk "BEGIN { print $seconds / 2 }")
sox -n "${format[@]}" "$parts/up.wav" synth "$half" sine 110:1760 vol 0.2
sox -n "${format[@]}" "$parts/down.wav" synth "$half" sine 1760:110 vol 0.2
sox "$parts/up.wav" "$parts/down.wav" "$parts/glide.wav"
# Mixed at full scale each: the parts' own volumes keep the sum below full scale.
sox -m -v 1 "$parts/kick.wav" -v 1 "$parts/hat.wav" -v 1 "$parts/glide.wav" "${format[@]}" "$parts/mix.wav" \
    trim 0 "$seconds"
mv "$parts/mix.wav" "$out"
echo "make-sound: $out, $seconds s, $rate a second, $channels channel(s)" >&2
