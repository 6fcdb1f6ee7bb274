#!/bin/sh
# An evening's flow through the real window under a virtual X server, driven as a user would:
# open a library, scan, select a track, play it, seek again and again, hide and show the
# spectrogram strip, switch to another library and quit with Ctrl+Q. Passes when the program
# exits 0 and the screenshots show the strip's region drawn only while the strip is on.
# Usage: window_end_to_end.sh SONDREL FIXTURES. Exits 77 (skipped) without Xvfb or xdotool.
set -eu

if [ "${1:-}" != "--inside" ]; then
    for tool in xvfb-run xdotool import convert; do
        command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
    done
    sondrel=$1
    fixtures=$2
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    mkdir -p "$scratch/first" "$scratch/second" "$scratch/home" "$scratch/run"
    chmod 700 "$scratch/run"
    "$fixtures" --bench-file mp3 20 "$scratch/first/Opening Track.mp3" >/dev/null
    "$fixtures" --bench-file flac 20 "$scratch/first/Closing Track.flac" >/dev/null
    "$fixtures" --bench-file wav 10 "$scratch/second/Other Library.wav" >/dev/null
    # The real window on the virtual display, whatever platform the other tests use.
    unset QT_QPA_PLATFORM
    export HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
        XDG_RUNTIME_DIR="$scratch/run" PULSE_COOKIE="$scratch/run/cookie"
    # A null sink of our own, so the seeks go through a real audio server (played silently
    # without one).
    if command -v pulseaudio >/dev/null 2>&1 \
        && pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load="module-null-sink sink_name=null" \
            --load=module-native-protocol-unix >/dev/null 2>&1; then
        trap 'kill "$(cat "$scratch/run/pulse/pid" 2>/dev/null)" 2>/dev/null; sleep 0.5; rm -rf "$scratch"' EXIT
    fi
    # libdbus keeps a buffer for the life of the process; the program's own leaks still count.
    export LSAN_OPTIONS="suppressions=$(dirname "$0")/window_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    xvfb-run -a -s "-screen 0 1600x1000x24" sh "$0" --inside "$sondrel" "$scratch"
    exit
fi

sondrel=$2
scratch=$3
fail() { echo "FAILED: $*"; kill "$app" 2>/dev/null || true; exit 1; }
window() { timeout 40 xdotool search --sync --onlyvisible --name "$1" | head -1; }
# SONDREL_E2E_SHOTS=DIR keeps the screenshots there, to look at.
shot() {
    import -window root "$scratch/$1.png"
    [ -z "${SONDREL_E2E_SHOTS:-}" ] || cp "$scratch/$1.png" "$SONDREL_E2E_SHOTS/"
}
# Mean brightness (0 black .. 1 white) of the strip's place: above the player bar, right of
# the sidebar, left of the detail panel.
strip() { convert "$scratch/$1.png" -crop 500x150+450+740 -colorspace Gray -format "%[fx:mean]" info:; }
darker() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0.2 < b) }'; }

"$sondrel" "$scratch/first" >"$scratch/out.txt" 2>&1 &
app=$!
main=$(window 'first - Sondrel') || fail "no window"
[ -n "$main" ] || fail "no window"
xdotool windowmove "$main" 0 0 windowsize "$main" 1600 1000
sleep 1
xdotool windowfocus "$main" key ctrl+Return
sleep 4

# Select the first row, play it with Return, and seek back and forth on the slider.
xdotool mousemove 700 138 click 1
sleep 3
xdotool key Return
sleep 1
for x in 650 900 700 1000 760 820 680 960 720 880 640 990 700 930; do
    xdotool mousemove "$x" 970 click 1
    sleep 0.2
done
sleep 6
shot strip-on
xdotool mousemove 1225 970 click 1
sleep 1
shot strip-off
xdotool mousemove 1225 970 click 1
sleep 1
on=$(strip strip-on)
off=$(strip strip-off)
echo "strip region brightness: shown $on, hidden $off"
darker "$on" "$off" || fail "the strip's region looks the same shown ($on) and hidden ($off)"

# Another library through the folder dialog.
xdotool windowfocus "$main" key ctrl+o
dialog=$(window 'Select your music library') || fail "no folder dialog"
xdotool windowfocus "$dialog"
sleep 0.5
xdotool key ctrl+a type "$scratch/second"
xdotool key Return
window 'second - Sondrel' >/dev/null || fail "the second library did not open"
sleep 2

xdotool windowfocus "$main" key ctrl+q
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || { cat "$scratch/out.txt"; fail "the program exited with $status"; }
echo "passed"
