#!/usr/bin/env bash
# Runs Sondrel's main job. With arguments: build/sondrel ARGS. Without: analyses the
# demo library in build/demo-library (generated on first use).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -x build/sondrel ] || [ ! -x build/sondrel-fixtures ]; then
    scripts/setup.sh
fi
if (($#)); then
    exec build/sondrel "$@"
fi
if [ ! -f build/demo-library/manifest.json ]; then
    build/sondrel-fixtures build/demo-library >/dev/null
fi
shopt -s nullglob
files=(build/demo-library/*.{mp3,wav,aiff,aif,flac,m4a,aac})
exec build/sondrel analyze "${files[@]}"
