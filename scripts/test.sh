#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-test/, warnings as errors, and runs every test with CTest, then the fuzzers
# (clang's libFuzzer) for a bounded time each. Lines changed on the branch must follow
# .clang-format first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --deps-only
scripts/check-format.sh
# Unity batches, and line tables only (enough for the sanitizers' stack traces), so that a build
# from nothing costs less.
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSONDREL_SANITIZE=ON -DSONDREL_WERROR=ON \
      -DSONDREL_TESTS=ON -DSONDREL_BENCH=OFF -DSONDREL_UNITY=ON -DCMAKE_CXX_FLAGS_DEBUG=-g1 >/dev/null
cmake --build build-test
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-test --output-on-failure -j "$(nproc)"
tests/fuzz/run.sh build-test/fuzz 20
