#!/usr/bin/env bash
# `sondrel scan` on a 100,000-file library: 100,000 hard links to one tagged MP3 in 200 folders,
# every verdict already in the cache. Measures discovery alone (`--folder empty`), the cached
# rescan and peak memory, for each binary given, in interleaved rounds so that all see the same
# machine load. The library and its cache file are generated once into SCRATCH and reused.
#
# Usage: bench/scale_bench.sh [SCRATCH] [SONDREL...]
#   SCRATCH  default /tmp/sondrel-scale (about 40 MB and 100,000 inodes)
#   SONDREL  binaries to compare, default build/sondrel
# ROUNDS (default 2) sets the number of rounds (0: generate only); FIXTURES the fixture generator
# (default build/sondrel-fixtures). CACHE names the cache file every run starts from, default the
# generated one, as a Sondrel without the tags in its entries wrote it: then each run of a Sondrel
# that keeps them opens every file once and saves them all. The cache as such a Sondrel leaves it
# is the one a first run saved: XDG_DATA_HOME=DIR sondrel scan LIB, then DIR/Sondrel/analysis_cache.json.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=${1:-/tmp/sondrel-scale}
shift || true
binaries=("$@")
[ ${#binaries[@]} -gt 0 ] || binaries=(build/sondrel)
rounds=${ROUNDS:-2}
fixtures=${FIXTURES:-build/sondrel-fixtures}

library="$scratch/library"
generated="$scratch/analysis_cache.json"
cache=${CACHE:-$generated}
if [ ! -f "$scratch/.complete" ]; then
    [ -x "$fixtures" ] || { echo "$fixtures is missing: build it first" >&2; exit 2; }
    rm -rf "$scratch"
    mkdir -p "$library/empty"
    "$fixtures" "$scratch/fixtures" >/dev/null
    # Hard links share modification time and size, so every key differs only by its path.
    /usr/bin/python3 - "$library" "$scratch/fixtures/stereo-44100-mp3-cbr320-id3v24.mp3" "$generated" <<'PYTHON'
import json, os, sys
library, source, out = sys.argv[1:4]
files, folders = 100000, 200
# A file takes at most 65,000 links on ext4: one copy of the source per 50,000 files.
copies = []
for k in range(2):
    copy = f"{source}.{k}"
    with open(source, "rb") as src, open(copy, "wb") as dst:
        dst.write(src.read())
    info = os.stat(copy)
    copies.append((copy, repr(info.st_mtime_ns / 1e9), info.st_size))
entries = {}
per = files // folders
for n in range(files):
    folder = os.path.join(library, f"Folder {n // per}")
    if n % per == 0:
        os.mkdir(folder)
    path = os.path.join(folder, f"Track {n}.mp3")
    copy, mtime, size = copies[n // 50000]
    os.link(copy, path)
    entry = {"cutoffFrequency": 16000.0 if n % 3 == 0 else 20500.0,
             "estimatedBitrate": 128 if n % 3 == 0 else 320,
             "rating": "128kbps" if n % 3 == 0 else "320kbps",
             "confidence": 0.8225806, "clippedSamples": n % 13, "totalSamples": 3175200,
             "peakAmplitude": 0.99874, "cachedAt": 734038478.125}
    if n % 10 == 0:
        entry["userOverride"] = {"djReady": True, "qualityRating": "320kbps", "timestamp": 734038500.0}
    entries[f"{path}|{mtime}|{size}"] = entry
with open(out, "w") as f:
    json.dump(entries, f, separators=(",", ":"))
PYTHON
    touch "$scratch/.complete"
fi
cat "$cache" >/dev/null   # warm the page cache

# Each sitting's own cache copy and notes, so that two sittings on one library do not mix.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
measure() { # LABEL COMMAND...
    mkdir -p "$XDG_DATA_HOME/Sondrel"
    cp "$cache" "$XDG_DATA_HOME/Sondrel/analysis_cache.json"
    /usr/bin/time -f "%e s wall, %U+%S s CPU, %M KB peak" -o "$work/time" "${@:2}" >/dev/null 2>"$work/err" || true
    printf '%-70s %s\n' "$1" "$(cat "$work/time")"
}
for ((round = 1; round <= rounds; round++)); do
    for binary in "${binaries[@]}"; do
        measure "round $round, $binary: discovery (scan --folder empty)" "$binary" scan "$library" --folder empty
        measure "round $round, $binary: cached rescan" "$binary" scan "$library"
        tail -1 "$work/err"
    done
done
