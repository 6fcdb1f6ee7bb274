#!/bin/sh
# Builds the fuzzers of our parsers of file bytes (the two ID3 readers, the FLAC frame locator,
# the MP3 frame walker)
# with clang's libFuzzer (ASan and UBSan) into OUT and runs each for SECONDS from its seeds.
# A crash, a sanitizer report or a broken invariant fails the run; the input that caused it
# is left in OUT as crash-* (replay: OUT/<fuzzer> OUT/crash-...).
#   tests/fuzz/run.sh [OUT] [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build-test/fuzz}
seconds=${2:-45}
mkdir -p "$out"
compiler="clang++"
command -v ccache >/dev/null && compiler="ccache clang++"
flags="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"

# The four builds, then the four runs, two at a time: each is single-threaded.
pids=""
wait_all() { # waits for every job in $pids; fails when any failed
    status=0
    for pid in $pids; do wait "$pid" || status=1; done
    pids=""
    return $status
}
$compiler $flags -I "$root/SondrelBase" -I "$root/TagEditor" "$root/tests/fuzz/TagEditorFuzzer.cpp" \
    "$root"/SondrelBase/*.cpp "$root"/TagEditor/*.cpp -o "$out/tag-editor-fuzzer" &
pids="$pids $!"
$compiler $flags -I "$root/SondrelBase" -I "$root/SondrelCore" "$root/tests/fuzz/ID3ParserFuzzer.cpp" \
    "$root"/SondrelBase/*.cpp "$root/SondrelCore/ID3Parser.cpp" "$root/SondrelCore/Mp3Frames.cpp" \
    "$root/SondrelCore/AacBitrate.cpp" -o "$out/id3-parser-fuzzer" &
pids="$pids $!"
wait_all
$compiler $flags -I "$root/SondrelBase" -I "$root/SondrelCore" "$root/tests/fuzz/FlacFramesFuzzer.cpp" \
    "$root/SondrelCore/FlacFrames.cpp" -o "$out/flac-frames-fuzzer" &
pids="$pids $!"
$compiler $flags -I "$root/SondrelBase" -I "$root/SondrelCore" "$root/tests/fuzz/Mp3FramesFuzzer.cpp" \
    "$root/SondrelCore/Mp3Frames.cpp" -o "$out/mp3-frames-fuzzer" &
pids="$pids $!"
wait_all

fuzz() { # FUZZER
    fuzzer=$1
    corpus="$out/$fuzzer-corpus"
    seeds="$root/tests/fuzz/seeds"
    [ "$fuzzer" = flac-frames-fuzzer ] && seeds="$root/tests/fuzz/seeds-flac"
    [ "$fuzzer" = mp3-frames-fuzzer ] && seeds="$root/tests/fuzz/seeds-mp3"
    mkdir -p "$corpus"
    ASAN_OPTIONS=detect_leaks=1 "$out/$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/" "$corpus" "$seeds" \
        2>"$out/$fuzzer.log" || { echo "$fuzzer failed:"; tail -n 60 "$out/$fuzzer.log"; return 1; }
}
report() { # FUZZER
    echo "Fuzzed $1 for $seconds s: $(grep -E '^stat::number_of_executed_units' "$out/$1.log" || true)"
}
for pair in "tag-editor-fuzzer id3-parser-fuzzer" "flac-frames-fuzzer mp3-frames-fuzzer"; do
    for fuzzer in $pair; do
        fuzz "$fuzzer" &
        pids="$pids $!"
    done
    wait_all
    for fuzzer in $pair; do report "$fuzzer"; done
done
