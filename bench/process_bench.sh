#!/usr/bin/env bash
# `sondrel process --rename --tag` over 500 failed MP3 files (ten seconds each, 128 kbps),
# after a first scan has filled the cache: the time of the processing run itself.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/sondrel ] && [ -x build/sondrel-fixtures ] || scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
build/sondrel-fixtures "$work/fixtures" >/dev/null
mkdir "$work/library"
for ((i = 0; i < 500; i++)); do
    cp "$work/fixtures/stereo-44100-mp3-cbr128-from-lossless.mp3" "$work/library/track-$i.mp3"
done
build/sondrel scan "$work/library" >/dev/null 2>&1 || true
/usr/bin/time -f "scan (cached) alone: wall=%es" build/sondrel scan "$work/library" >/dev/null 2>"$work/err0" || true
tail -n 1 "$work/err0"
/usr/bin/time -f "scan (cached) + rename and re-tag 500 files: wall=%es user=%Us sys=%Ss maxrss=%MKB" \
    build/sondrel process "$work/library" --rename --tag --yes >"$work/out" 2>"$work/err" || true
grep -v '^Metadata update' "$work/out"
tail -n 1 "$work/err"
