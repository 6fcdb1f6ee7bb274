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
flags="-std=c++20 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined"
includes="-I $root/SondrelBase -I $root/SondrelCore -I $root/TagEditor"

pids=""
wait_all() { # waits for every job in $pids; fails when any failed
    status=0
    for pid in $pids; do wait "$pid" || status=1; done
    pids=""
    return $status
}

# Each source is compiled once, as many at a time as there are cores; then the four links.
base=$(ls "$root"/SondrelBase/*.cpp)
tag_editor="$base $(ls "$root"/TagEditor/*.cpp)"
id3_parser="$base $root/SondrelCore/ID3Parser.cpp $root/SondrelCore/Mp3Frames.cpp $root/SondrelCore/AacBitrate.cpp"
flac_frames="$root/SondrelCore/FlacFrames.cpp"
mp3_frames="$root/SondrelCore/Mp3Frames.cpp"
object() { # SOURCE: where its object goes
    echo "$out/objects/$(basename "$(dirname "$1")")-$(basename "$1" .cpp).o"
}
mkdir -p "$out/objects"
for source in $tag_editor $id3_parser $flac_frames $mp3_frames "$root"/tests/fuzz/*Fuzzer.cpp; do echo "$source"; done | sort -u |
    while read -r source; do echo "$source $(object "$source")"; done |
    xargs -P "$(nproc)" -n 2 sh -c '$0 '"$flags -fsanitize=fuzzer-no-link $includes"' -c "$1" -o "$2"' "$compiler"
link() { # FUZZER HARNESS SOURCES...
    target=$1; shift
    objects=""
    for source in "$@"; do
        [ -f "$(object "$source")" ] || { echo "$source did not compile" >&2; return 1; }
        objects="$objects $(object "$source")"
    done
    clang++ $flags -fsanitize=fuzzer $objects -o "$out/$target"
}
link tag-editor-fuzzer "$root/tests/fuzz/TagEditorFuzzer.cpp" $tag_editor
link id3-parser-fuzzer "$root/tests/fuzz/ID3ParserFuzzer.cpp" $id3_parser
link flac-frames-fuzzer "$root/tests/fuzz/FlacFramesFuzzer.cpp" $flac_frames
link mp3-frames-fuzzer "$root/tests/fuzz/Mp3FramesFuzzer.cpp" $mp3_frames

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
