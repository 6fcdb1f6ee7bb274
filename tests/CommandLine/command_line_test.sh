#!/bin/sh
# The executable's own contract, one case per call:
#   command_line_test.sh SONDREL FIXTURES CASE
# FIXTURES: the fixture library's folder (CTest generates it once per run), or its generator.
set -u
sondrel=$1
fixtures=$2
case_name=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

fail() { echo "FAIL: $*" >&2; exit 1; }

# A fresh copy of the fixture library in folder $1.
library() {
    if [ -d "$fixtures" ]; then cp -R "$fixtures" "$1"; else "$fixtures" "$1" >/dev/null; fi
}

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
    library "$work/lib" || fail "fixtures"
    "$sondrel" spectrogram "$work/lib/mono-44100-wav-49152-frames.wav" -o "$work/s.png" --width 300 --height 100 \
        | grep -qx "$work/s.png" || fail "printed path"
    head -c 8 "$work/s.png" | od -An -c | grep -q 'P   N   G' || fail "not a PNG"
    ! "$sondrel" spectrogram /nonexistent.flac -o "$work/never.png" 2>/dev/null || fail "missing input succeeded"
    test ! -e "$work/never.png" || fail "image written for a missing input"
    # Never the input, also through a link; never an existing file without --force.
    cp "$work/lib/mono-44100-wav-49152-frames.wav" "$work/in.wav"
    ln -s in.wav "$work/link.wav"
    before=$(md5sum <"$work/in.wav")
    ! "$sondrel" spectrogram "$work/in.wav" -o "$work/link.wav" --force 2>/dev/null || fail "wrote over its input"
    test "$(md5sum <"$work/in.wav")" = "$before" || fail "input changed"
    ! "$sondrel" spectrogram "$work/in.wav" -o "$work/s.png" 2>"$work/err" || fail "replaced without --force"
    grep -q 'exists' "$work/err" || fail "no reason given: $(cat "$work/err")"
    "$sondrel" spectrogram "$work/in.wav" -o "$work/s.png" --force --width 10 --height 10 >/dev/null || fail "--force"
    test "$(ls -a "$work" | grep -c tmp)" -eq 0 || fail "temporary file left"
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
scan-json-matches-golden)
    golden=$4
    library "$work/lib" || fail "fixtures"
    "$sondrel" scan "$work/lib" --json --jobs 2 >"$work/out" 2>"$work/err"; status=$?
    test $status -eq 1 || fail "exit status $status (failed files expected)"
    grep -qx '27 files - 18 passed - 7 failed' "$work/err" || fail "summary: $(cat "$work/err")"
    sed "s|$work/lib/||g" "$work/out" >"$work/stable"
    if [ -n "${SONDREL_UPDATE_GOLDEN:-}" ]; then cp "$work/stable" "$golden"; fi
    diff -u "$golden" "$work/stable" || fail "differs from $golden"
    # Everything is cached now: the same verdicts without analysis.
    "$sondrel" scan "$work/lib" --json >"$work/again" 2>/dev/null
    sed "s|$work/lib/||g" "$work/again" | diff -q "$golden" - >/dev/null || fail "cached scan differs"
    # A lower threshold for this run only; the failed-only filter.
    "$sondrel" scan "$work/lib" --threshold 192 --failed-only --csv >"$work/csv" 2>/dev/null
    head -n 1 "$work/csv" | grep -qx 'Status,DJ Ready,Title,Artist,Bitrate,Quality,Issue,Path' || fail "csv header"
    test "$(tail -n +2 "$work/csv" | cut -d, -f1 | sort -u)" = "failed" || fail "failed-only"
    ;;
scan-m3u8-is-a-playlist-of-the-failed-files)
    library "$work/lib" || fail "fixtures"
    "$sondrel" scan "$work/lib" --failed-only --m3u8 --jobs 2 >"$work/list.m3u8" 2>/dev/null
    head -n 1 "$work/list.m3u8" | grep -qx '#EXTM3U' || fail "header: $(head -n 1 "$work/list.m3u8")"
    entries=$(grep -c '^#EXTINF:' "$work/list.m3u8")
    test "$entries" -eq 7 || fail "$entries entries, 7 failed files expected"
    # Each entry: whole seconds and a title, then the absolute path of an existing file.
    tail -n +2 "$work/list.m3u8" | while read -r info && read -r path; do
        echo "$info" | grep -qE '^#EXTINF:[0-9]+,.+' || fail "entry: $info"
        case $path in /*) ;; *) fail "not absolute: $path" ;; esac
        test -f "$path" || fail "no file at $path"
    done || exit 1
    # The files the CSV lists, in its order.
    "$sondrel" scan "$work/lib" --failed-only --csv 2>/dev/null \
        | /usr/bin/python3 -c 'import csv, sys; [print(row[7]) for row in list(csv.reader(sys.stdin))[1:]]' \
        >"$work/csv-paths"
    grep -v '^#' "$work/list.m3u8" | diff -u "$work/csv-paths" - || fail "playlist and CSV list other files"
    "$sondrel" scan "$work/lib" --m3u8 --csv >/dev/null 2>&1; test $? -eq 2 || fail "m3u8 and csv"
    ;;
scan-usage-errors-exit-with-two)
    "$sondrel" scan "$work/missing" >/dev/null 2>&1; test $? -eq 2 || fail "missing folder"
    mkdir "$work/lib"
    "$sondrel" scan "$work/lib" --threshold 288 >/dev/null 2>&1; test $? -eq 2 || fail "threshold 288"
    "$sondrel" scan "$work/lib" --json --csv >/dev/null 2>&1; test $? -eq 2 || fail "json and csv"
    "$sondrel" scan "$work/lib" --folder nowhere >/dev/null 2>&1; test $? -eq 2 || fail "missing sub-folder"
    "$sondrel" scan "$work/lib" >/dev/null 2>"$work/err"; test $? -eq 0 || fail "empty library"
    grep -qx 'Select a folder to scan' "$work/err" || fail "empty summary"
    ;;
scan-interrupt-cancels-and-exits-130)
    library "$work/lib" || fail "fixtures"
    mkdir "$work/many"
    i=0
    while [ $i -lt 3000 ]; do
        ln "$work/lib/mono-44100-wav-10000-frames.wav" "$work/many/track-$i.wav"
        i=$((i + 1))
    done
    # Two seconds in, discovery is over and the scan is under way (a full scan takes about ten).
    timeout --preserve-status -s INT 2 "$sondrel" scan "$work/many" --json --jobs 1 >"$work/out" 2>/dev/null
    status=$?
    test $status -eq 130 || fail "exit status $status"
    ! grep -q '"status":"scanning"' "$work/out" || fail "files left scanning"
    ! grep -q '"status":"failed"\|"status":"error"' "$work/out" || fail "unexpected verdicts"
    # On a slow machine the interrupt may land during discovery: nothing was judged then.
    if [ -s "$work/out" ]; then
        grep -q '"status":"pending"' "$work/out" || fail "nothing left pending: the scan was not cancelled"
    fi
    # What was analysed before the interrupt is in the flushed cache.
    passed=$(grep -c '"status":"passed"' "$work/out")
    entries=$("$sondrel" cache | tail -n 1 | cut -d' ' -f1)
    test "$entries" -ge "$passed" || fail "cache has $entries entries for $passed verdicts"
    ;;
process-interrupt-during-tagging-finishes-the-file-and-reports)
    library "$work/fixtures" || fail "fixtures"
    mkdir "$work/lib"
    i=0
    while [ $i -lt 120 ]; do
        cp "$work/fixtures/stereo-44100-mp3-cbr128-from-lossless.mp3" "$work/lib/track-$i.mp3"
        i=$((i + 1))
    done
    "$sondrel" process "$work/lib" --tag --yes >"$work/out" 2>/dev/null &
    pid=$!
    # Ctrl-C once the tag phase has begun.
    tries=0
    until grep -q '^Metadata update: 1/' "$work/out" 2>/dev/null; do
        tries=$((tries + 1))
        test $tries -lt 1200 || { kill $pid; fail "the tag phase never began"; }
        sleep 0.05
    done
    kill -INT $pid
    wait $pid; status=$?
    test $status -eq 130 || fail "exit status $status"
    grep -q '^Processing \(Interrupted\|Complete\)' "$work/out" || fail "no results: $(tail -n 3 "$work/out")"
    test "$(ls -A "$work/lib" | grep -vc '^track-[0-9]*\.mp3$')" -eq 0 || fail "left behind: $(ls -A "$work/lib")"
    ;;
process-dry-run-matches-golden)
    golden=$4
    library "$work/lib" || fail "fixtures"
    mkdir "$work/rejects"
    before=$(ls -l "$work/lib" | md5sum)
    "$sondrel" process "$work/lib" --rename --move "$work/rejects" --tag --dry-run >"$work/out" 2>/dev/null \
        || fail "dry run failed"
    test "$(ls -l "$work/lib" | md5sum)" = "$before" || fail "the dry run changed the library"
    sed "s|$work/||g" "$work/out" >"$work/stable"
    if [ -n "${SONDREL_UPDATE_GOLDEN:-}" ]; then cp "$work/stable" "$golden"; fi
    diff -u "$golden" "$work/stable" || fail "differs from $golden"
    ;;
process-asks-before-changing-files)
    library "$work/lib" || fail "fixtures"
    before=$(ls "$work/lib" | md5sum)
    "$sondrel" process "$work/lib" --rename </dev/null >/dev/null 2>"$work/err"; status=$?
    test $status -eq 2 || fail "exit status $status without --yes"
    grep -q 'This will break Rekordbox links' "$work/err" || fail "warning text"
    test "$(ls "$work/lib" | md5sum)" = "$before" || fail "files changed without confirmation"
    mkdir "$work/rejects"
    "$sondrel" process "$work/lib" --move "$work/rejects" --trash --yes >/dev/null 2>&1; status=$?
    test $status -eq 2 || fail "--move with --trash: exit status $status"
    ;;
process-renames-and-tags)
    library "$work/lib" || fail "fixtures"
    "$sondrel" process "$work/lib" --rename --tag --yes >"$work/out" 2>/dev/null; status=$?
    # WAV, FLAC and M4A files cannot be tagged: counted as failed tag writes.
    test $status -eq 1 || fail "exit status $status"
    grep -qx 'Processing Complete with Issues' "$work/out" || fail "title"
    grep -qx '7 files renamed' "$work/out" || fail "renamed count: $(cat "$work/out")"
    grep -qx '9 files updated' "$work/out" || fail "updated count"
    test -e "$work/lib/stereo-44100-mp3-cbr128-from-lossless fake-128.mp3" || fail "marked name"
    test ! -e "$work/lib/stereo-44100-mp3-cbr128-from-lossless.mp3" || fail "old name still there"
    # The comment is UTF-16: drop the zero bytes to read it.
    head -c 4096 "$work/lib/stereo-44100-mp3-cbr128-from-lossless fake-128.mp3" | tr -d '\000' \
        | grep -a -q 'Detected bitrate: 128 kbps' || fail "comment"
    # Running again renames nothing: every failed file is marked already.
    "$sondrel" process "$work/lib" --rename --yes >"$work/again" 2>/dev/null || fail "second run"
    test "$(cat "$work/again")" = "Processing Complete" || fail "second run: $(cat "$work/again")"
    ;;
scan-odd-files-get-errors-and-the-scan-finishes)
    library "$work/fixtures" || fail "fixtures"
    mkdir -p "$work/lib/folder.mp3"
    : >"$work/lib/empty.mp3"
    head -c 100000 /dev/urandom >"$work/lib/random.flac"
    cp "$work/fixtures/mono-44100-wav-4096-frames.wav" "$work/lib/odd$(printf '\377').wav"
    "$sondrel" scan "$work/lib" --json --no-cache >"$work/out" 2>/dev/null; status=$?
    test $status -eq 1 || fail "exit status $status"
    test "$(wc -l <"$work/out")" -eq 4 || fail "expected 4 files: $(cat "$work/out")"
    grep '"name":"empty.mp3"' "$work/out" | grep -q '"error":"Invalid data found when processing input"' || fail "empty"
    grep '"name":"folder.mp3"' "$work/out" | grep -q '"error":"Is a directory"' || fail "folder"
    grep '"name":"random.flac"' "$work/out" | grep -q '"status":"error"' || fail "random bytes"
    grep -q '"status":"passed"' "$work/out" || fail "the odd name was not analysed"
    ;;
scan-reports-trouble-on-standard-error)
    library "$work/fixtures" || fail "fixtures"
    mkdir "$work/lib"
    cp "$work/fixtures/mono-44100-wav-4096-frames.wav" "$work/lib/a.wav"
    # A folder path longer than the system allows, made one relative step at a time.
    /usr/bin/python3 -c 'import os, sys; os.chdir(sys.argv[1])
for i in range(25): os.mkdir("n" * 200); os.chdir("n" * 200)
open("deep.wav", "w").close()' "$work/lib" || fail "deep folders"
    # The cache cannot be saved: its folder is a file.
    mkdir -p "$XDG_DATA_HOME" && : >"$XDG_DATA_HOME/Sondrel"
    "$sondrel" scan "$work/lib" --json >"$work/out" 2>"$work/err"; status=$?
    test $status -eq 1 || fail "exit status $status"
    test "$(wc -l <"$work/out")" -eq 1 && grep -q '^{"path"' "$work/out" || fail "standard output: $(cat "$work/out")"
    grep -q '^Failed to save analysis cache: ' "$work/err" || fail "no cache failure: $(cat "$work/err")"
    grep -q '^Skipped folder .*: File name too long$' "$work/err" || fail "no skipped folder: $(cat "$work/err")"
    ;;
paths-compare-in-one-form-and-the-table-is-safe)
    library "$work/fixtures" || fail "fixtures"
    mkdir -p "$work/lib/Set" "$work/outside"
    esc=$(printf '\033')
    for name in "Set/caf\303\251.wav" "Set/plain.wav" "x${esc}[31mred.wav" 'comma, "quoted".wav'; do
        cp "$work/fixtures/mono-44100-wav-4096-frames.wav" "$work/lib/$(printf "$name")"
    done
    "$sondrel" scan "$work/lib" --folder "$work/lib/Set" --no-cache --csv >"$work/csv" 2>/dev/null
    test "$(tail -n +2 "$work/csv" | wc -l)" -eq 2 || fail "--folder as an absolute path: $(cat "$work/csv")"
    "$sondrel" scan "$work/lib" --folder "$work/outside" >/dev/null 2>&1; test $? -eq 2 || fail "folder outside"
    "$sondrel" scan "$work/lib" --no-cache --csv >"$work/csv" 2>/dev/null
    grep -qF ",\"$work/lib/comma, \"\"quoted\"\".wav\"" "$work/csv" || fail "CSV quoting: $(cat "$work/csv")"
    "$sondrel" scan "$work/lib" >"$work/table" 2>/dev/null
    ! grep -q "$esc" "$work/table" || fail "raw escape sequence in the table"
    grep -qF 'x\x1b[31mred.wav' "$work/table" || fail "escaped name missing"
    # Columns start at the same character on every row, whatever the bytes of the names.
    /usr/bin/python3 -c 'import sys; rows=open(sys.argv[1],encoding="utf-8").read().splitlines()[1:]; \
        sys.exit(len({r.index(sys.argv[2]) for r in rows}) != 1)' "$work/table" "$work/lib/" || fail "columns not aligned"
    "$sondrel" process "$work/lib" --only "$work/lib/Set/plain.wav" --tag --dry-run >/dev/null 2>&1 \
        || fail "--only with an absolute path"
    "$sondrel" process "$work/lib" --only "$work/outside" --tag --dry-run >/dev/null 2>&1; status=$?
    test $status -eq 2 || fail "--only outside: $status"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
