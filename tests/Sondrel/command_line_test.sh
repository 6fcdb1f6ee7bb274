#!/bin/sh
# The executable's own contract, one case per call:
#   command_line_test.sh SONDREL FIXTURES CASE
set -u
sondrel=$1
fixtures=$2
case_name=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

fail() { echo "FAIL: $*" >&2; exit 1; }

case "$case_name" in
usage-error-exits-with-two)
    "$sondrel" analyze >/dev/null 2>&1; test $? -eq 2 || fail "no files"
    "$sondrel" analyze --jobs 0 x.mp3 >/dev/null 2>&1; test $? -eq 2 || fail "--jobs 0"
    "$sondrel" frobnicate >/dev/null 2>&1; test $? -eq 2 || fail "unknown command"
    ;;
help-exits-with-zero)
    "$sondrel" --help | grep -q analyze || fail "--help"
    "$sondrel" analyze --help | grep -q -- --quick || fail "analyze --help"
    ;;
missing-file-exits-with-one)
    "$sondrel" analyze --json /nonexistent.mp3 >"$work/out"; test $? -eq 1 || fail "exit status"
    grep -q '"error":"No such file or directory"' "$work/out" || fail "error text"
    ;;
spectrogram-writes-a-png)
    "$fixtures" "$work/lib" >/dev/null || fail "fixtures"
    "$sondrel" spectrogram "$work/lib/mono-44100-wav-49152-frames.wav" -o "$work/s.png" --width 300 --height 100 \
        | grep -qx "$work/s.png" || fail "printed path"
    head -c 8 "$work/s.png" | od -An -c | grep -q 'P   N   G' || fail "not a PNG"
    ! "$sondrel" spectrogram /nonexistent.flac -o "$work/never.png" 2>/dev/null || fail "missing input succeeded"
    test ! -e "$work/never.png" || fail "image written for a missing input"
    ;;
cache-reports-and-clears)
    mkdir -p "$XDG_DATA_HOME/Sondrel"
    printf '%s' '{"/x.mp3|1.0|3":{"cutoffFrequency":17000,"estimatedBitrate":128,"rating":"128kbps","confidence":0.75,"clippedSamples":0,"totalSamples":49152,"peakAmplitude":0.5,"cachedAt":0}}' \
        >"$XDG_DATA_HOME/Sondrel/analysis_cache.json"
    "$sondrel" cache >"$work/out" || fail "cache"
    head -n 1 "$work/out" | grep -qx "$XDG_DATA_HOME/Sondrel/analysis_cache.json" || fail "path"
    grep -qx '1 entry' "$work/out" || fail "count"
    "$sondrel" cache --clear | grep -qx '0 entries' || fail "clear"
    grep -qx '{}' "$XDG_DATA_HOME/Sondrel/analysis_cache.json" || fail "cleared file"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
