#!/usr/bin/env bash
# Runs Sondrel's main job. With arguments: build/sondrel ARGS. Without: scans the demo
# library in build/demo-library (generated on first use).
set -euo pipefail
cd "$(dirname "$0")/.."

# Installs and builds as needed; an up-to-date build costs a second.
scripts/setup.sh >&2
if (($#)); then
    exec build/sondrel "$@"
fi
if [ ! -f build/demo-library/manifest.json ]; then
    build/sondrel-fixtures build/demo-library >/dev/null
fi
exec build/sondrel scan build/demo-library
