#!/usr/bin/env bash
# Installs the Debian packages Sondrel needs (once), then configures and builds a release
# build into build/. Safe to run again: it only does what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config time
          libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
          libfftw3-dev nlohmann-json3-dev libcli11-dev
          qt6-base-dev qt6-multimedia-dev libqt6svg6 pulseaudio pulseaudio-utils
          libgtest-dev libgmock-dev libbenchmark-dev
          xvfb xauth xdotool imagemagick
          clang libclang-rt-14-dev python3-mutagen
          strace
          mixxx
          sqlite3
          libsqlite3-dev
          dpkg-dev
          man-db
          desktop-file-utils
          appstream
          bash-completion
          clang-format
          lame)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build_dir=${SONDREL_BUILD_DIR:-build}
if [ "${1:-}" = "--deps-only" ]; then
    exit 0
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONDREL_TESTS=OFF -DSONDREL_BENCH=ON >/dev/null
cmake --build "$build_dir"
