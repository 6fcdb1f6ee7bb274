#!/usr/bin/env bash
# Runs Sondrel's main job. With arguments: build/sondrel ARGS. Without: opens the window on the
# demo library in build/demo-library (generated on first use) when there is a display, and scans
# it headless when there is none.
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
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/sondrel build/demo-library
fi
# The demo holds failing files on purpose: a scan that ran (0 or 1) is a successful demo.
status=0
build/sondrel scan build/demo-library || status=$?
if [ "$status" -eq 1 ]; then
    exit 0
fi
exit "$status"
