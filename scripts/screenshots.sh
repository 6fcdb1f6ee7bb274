#!/usr/bin/env bash
# Opens the window on the demo library under a virtual X server, drives it like a user (scan,
# sort, select a row, open the process sheet, Settings) and writes a PNG of each state to
# docs/screenshots/. Uses a fresh cache and settings, never the user's. SONDREL_BUILD_DIR picks
# another build than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${SONDREL_BUILD_DIR:-build}

if [ "${1:-}" != "--inside" ]; then
    [ -x "$bin/sondrel" ] && [ -x "$bin/sondrel-fixtures" ] || scripts/setup.sh >&2
    mkdir -p build
    [ -f build/demo-library/manifest.json ] || "$bin/sondrel-fixtures" build/demo-library >/dev/null
    mkdir -p docs/screenshots
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch \
        xvfb-run -a -s "-screen 0 1600x1000x24" "$0" --inside
    exit
fi

out=docs/screenshots
shot() { sleep "${2:-1}"; import -window root "$out/$1.png"; echo "$out/$1.png"; }
window() { xdotool search --sync --onlyvisible --name "$1" | head -1; }
stop() { kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; }

# The welcome screen.
"$bin/sondrel" & app=$!
trap stop EXIT
window '^Sondrel$' >/dev/null
shot welcome 2
stop

# The library, before and after a scan.
"$bin/sondrel" build/demo-library & app=$!
main=$(window 'demo-library')
xdotool windowmove "$main" 0 0 windowsize "$main" 1600 1000
shot library 3
xdotool windowfocus "$main" key ctrl+Return
shot scanning 1.5
# The demo library scans in a few seconds; the status bar then shows the counts.
shot scanned 10

# Sorted by Actual Bitrate, the worst first; two more clicks bring back the library's order.
xdotool mousemove --window "$main" 909 116 click 1
shot sorted 2
xdotool click 1 sleep 1 click 1
sleep 1

# A row selected: the detail panel, the spectrogram strip and the player.
xdotool mousemove --window "$main" 700 190 click 1
shot selected 4

# The process sheet over the window.
xdotool key ctrl+p
shot process-sheet 2
xdotool key Escape
sleep 1

# Settings.
xdotool key ctrl+comma
shot settings 2
xdotool key Escape
