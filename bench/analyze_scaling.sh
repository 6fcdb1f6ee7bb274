#!/usr/bin/env bash
# `sondrel analyze` over many files with 1 and with 2 jobs: wall time, CPU time and peak
# memory (from GNU time). Usage: bench/analyze_scaling.sh [FILES] (default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-200}
[ -x build/sondrel ] && [ -x build/sondrel-fixtures ] || scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
formats=(mp3 m4a flac wav)
for format in "${formats[@]}"; do
    build/sondrel-fixtures --bench-file "$format" 180 "$work/source.$format" >/dev/null
done
for ((i = 0; i < count; i++)); do
    format=${formats[i % ${#formats[@]}]}
    cp "$work/source.$format" "$work/track-$i.$format"
done
files=("$work"/track-*)
build/sondrel analyze --jobs 1 "${files[@]}" >/dev/null   # warm the page cache
for jobs in 1 2; do
    /usr/bin/time -f "jobs=$jobs files=$count wall=%es user=%Us sys=%Ss maxrss=%MKB" \
        build/sondrel analyze --jobs "$jobs" "${files[@]}" >/dev/null
done
half=("${files[@]:0:$((count / 4))}")
/usr/bin/time -f "jobs=2 files=${#half[@]} wall=%es user=%Us sys=%Ss maxrss=%MKB" \
    build/sondrel analyze --jobs 2 "${half[@]}" >/dev/null
