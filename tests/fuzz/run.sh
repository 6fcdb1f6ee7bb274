#!/bin/sh
# Builds the two ID3 fuzzers with clang's libFuzzer (ASan and UBSan) into OUT and runs each for
# SECONDS from the seed corpus. A crash, a sanitizer report or a broken invariant fails the run;
# the input that caused it is left in OUT as crash-* (replay: OUT/<fuzzer> OUT/crash-...).
#   tests/fuzz/run.sh [OUT] [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build-test/fuzz}
seconds=${2:-45}
mkdir -p "$out"
compiler="clang++"
command -v ccache >/dev/null && compiler="ccache clang++"
flags="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"

$compiler $flags -I "$root/SondrelBase" -I "$root/TagEditor" "$root/tests/fuzz/TagEditorFuzzer.cpp" \
    "$root"/SondrelBase/*.cpp "$root"/TagEditor/*.cpp -o "$out/tag-editor-fuzzer"
$compiler $flags -I "$root/SondrelBase" -I "$root/SondrelCore" "$root/tests/fuzz/ID3ParserFuzzer.cpp" \
    "$root"/SondrelBase/*.cpp "$root/SondrelCore/ID3Parser.cpp" -o "$out/id3-parser-fuzzer"

for fuzzer in tag-editor-fuzzer id3-parser-fuzzer; do
    corpus="$out/$fuzzer-corpus"
    mkdir -p "$corpus"
    echo "Fuzzing $fuzzer for $seconds s"
    ASAN_OPTIONS=detect_leaks=1 "$out/$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/" "$corpus" "$root/tests/fuzz/seeds" \
        2>"$out/$fuzzer.log" || { tail -n 60 "$out/$fuzzer.log"; exit 1; }
    grep -E '^stat::number_of_executed_units' "$out/$fuzzer.log" || true
done
