#!/usr/bin/env bash
# Builds the brick-wall detector's corpus of real recordings OUTSIDE the repository:
#   bench/make_corpus.sh [DIR]        (default /work/scratch-corpus)
# 28 genuine 30-second pieces (drum loops from hydrogen-drumkits, MIDI pieces rendered by
# fluidsynth, soft and hissy ones included), each made into the chains a DJ meets:
#   genuine-flac, flac-from-mp3-128, flac-from-aac-128, mp3-320-from-mp3-128,
#   mp3-256-from-mp3-192, genuine-mp3-320, genuine-mp3-v0, genuine-mp3-192
# A developer tool, not part of the test command: it installs the Debian packages it needs
# (about 270 MB of samples and soundfont) itself. Runs at low priority, one encoder at a time.
# Files already made are kept, so it can be run again after an interruption.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dir="${1:-/work/scratch-corpus}"

packages=(lame flac ffmpeg fluidsynth fluid-soundfont-gm hydrogen-drumkits python3-numpy)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

mkdir -p "$dir/sources" "$dir/work"
nice -n 10 /usr/bin/python3 "$here/corpus_sources.py" "$dir/sources"

classes=(genuine-flac flac-from-mp3-128 flac-from-aac-128 mp3-320-from-mp3-128 mp3-256-from-mp3-192
         genuine-mp3-320 genuine-mp3-v0 genuine-mp3-192)
for class in "${classes[@]}"; do mkdir -p "$dir/$class"; done

run() { nice -n 5 "$@" >/dev/null 2>&1; }
# A lossy file back to 16-bit PCM, as a ripper or a DAW export would leave it.
decoded() { # SOURCE OUT.wav
    [ -e "$2" ] || run ffmpeg -y -i "$1" -c:a pcm_s16le "$2"
}

for wav in "$dir"/sources/*.wav; do
    name="$(basename "$wav" .wav)"
    w="$dir/work/$name"
    [ -e "$dir/genuine-flac/$name.flac" ] || run flac -s -5 -o "$dir/genuine-flac/$name.flac" "$wav"
    [ -e "$w-128.mp3" ] || run lame --quiet -b 128 "$wav" "$w-128.mp3"
    [ -e "$w-192.mp3" ] || run lame --quiet -b 192 "$wav" "$w-192.mp3"
    [ -e "$w-128.m4a" ] || run ffmpeg -y -i "$wav" -c:a aac -b:a 128k "$w-128.m4a"
    decoded "$w-128.mp3" "$w-128-mp3.wav"
    decoded "$w-192.mp3" "$w-192-mp3.wav"
    decoded "$w-128.m4a" "$w-128-aac.wav"
    [ -e "$dir/flac-from-mp3-128/$name.flac" ] || run flac -s -5 -o "$dir/flac-from-mp3-128/$name.flac" "$w-128-mp3.wav"
    [ -e "$dir/flac-from-aac-128/$name.flac" ] || run flac -s -5 -o "$dir/flac-from-aac-128/$name.flac" "$w-128-aac.wav"
    [ -e "$dir/mp3-320-from-mp3-128/$name.mp3" ] || run lame --quiet -b 320 "$w-128-mp3.wav" "$dir/mp3-320-from-mp3-128/$name.mp3"
    [ -e "$dir/mp3-256-from-mp3-192/$name.mp3" ] || run lame --quiet -b 256 "$w-192-mp3.wav" "$dir/mp3-256-from-mp3-192/$name.mp3"
    [ -e "$dir/genuine-mp3-320/$name.mp3" ] || run lame --quiet -b 320 "$wav" "$dir/genuine-mp3-320/$name.mp3"
    [ -e "$dir/genuine-mp3-v0/$name.mp3" ] || run lame --quiet -V 0 "$wav" "$dir/genuine-mp3-v0/$name.mp3"
    [ -e "$dir/genuine-mp3-192/$name.mp3" ] || cp "$w-192.mp3" "$dir/genuine-mp3-192/$name.mp3"
done
echo "corpus in $dir: $(find "$dir" -mindepth 2 \( -name "*.flac" -o -name "*.mp3" \) -not -path "$dir/work/*" | wc -l) files"
