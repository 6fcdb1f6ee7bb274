#!/usr/bin/env bash
# `sondrel scan` on generated libraries: a first scan of 500 three-minute files with 1 and 2
# jobs, the same scan again from the cache, 10,000 cached files, and the discovery of 20,000
# small tagged files. Wall time, CPU time and peak memory come from GNU time.
# Usage: bench/scan_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/sondrel ] && [ -x build/sondrel-fixtures ] || scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
measure() { /usr/bin/time -f "$1: wall=%es user=%Us sys=%Ss maxrss=%MKB" "${@:2}" >/dev/null 2>>"$work/times"; }

formats=(mp3 m4a flac wav)
for format in "${formats[@]}"; do
    build/sondrel-fixtures --bench-file "$format" 180 "$work/source.$format" >/dev/null
done
# Hard links: distinct paths (and cache keys) without 8 GB of copies.
mkdir "$work/library"
for ((i = 0; i < 500; i++)); do
    format=${formats[i % 4]}
    mkdir -p "$work/library/folder-$((i / 50))"
    ln "$work/source.$format" "$work/library/folder-$((i / 50))/track-$i.$format"
done
cat "$work/library"/*/* >/dev/null   # warm the page cache

for jobs in 1 2; do
    rm -rf "$XDG_DATA_HOME"
    measure "first scan, 500 files, $jobs job(s)" build/sondrel scan "$work/library" --jobs "$jobs" || true
done
measure "cached scan, 500 files" build/sondrel scan "$work/library" || true

build/sondrel-fixtures "$work/fixtures" >/dev/null
small="$work/fixtures/stereo-44100-mp3-cbr320-id3v24.mp3"
mkdir "$work/small" "$work/small/empty"
for ((i = 0; i < 20000; i++)); do
    mkdir -p "$work/small/folder-$((i / 500))"
    ln "$small" "$work/small/folder-$((i / 500))/track-$i.mp3"
done
# Discovery alone: the scan of an empty sub-folder has nothing to do.
measure "discovery, 20000 tagged files" build/sondrel scan "$work/small" --folder empty || true
mkdir "$work/ten"
for ((i = 0; i < 10000; i++)); do ln "$small" "$work/ten/track-$i.mp3"; done
rm -rf "$XDG_DATA_HOME"
measure "first scan, 10000 small files" build/sondrel scan "$work/ten" || true
measure "cached scan, 10000 files" build/sondrel scan "$work/ten" || true
cat "$work/times"
