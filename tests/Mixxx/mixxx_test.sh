#!/bin/sh
# Sondrel's crate in a library that Debian's Mixxx made and then opens again.
#   mixxx_test.sh library WORK FIXTURES   makes WORK/music and, with Mixxx, WORK/settings/mixxxdb.sqlite
#   mixxx_test.sh crate WORK SONDREL      fills a crate there, then lets Mixxx open it again
# Runs Mixxx under its own X server (xvfb-run). Where Mixxx cannot start, the library step leaves
# WORK/skip with the reason and the crate step reports it and exits 77 (skipped).
set -u
mode=$1
work=$2
settings="$work/settings"
database="$settings/mixxxdb.sqlite"
crate="Sondrel: failed"
display_args='-screen 0 1600x1000x24'

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "$*" >"$work/skip"; echo "SKIPPED: $*"; exit 0; }

# Runs the rest of this script with the same arguments on a display of its own.
on_display() {
    if [ -z "${SONDREL_MIXXX_DISPLAY:-}" ]; then
        SONDREL_MIXXX_DISPLAY=1 exec xvfb-run -a -s "$display_args" sh "$0" "$@"
    fi
}

sql() { sqlite3 -batch -noheader "file:$database?mode=ro" "$1"; }

start_mixxx() {
    # Its own X display, whatever platform the other tests chose for Qt.
    HOME="$work/home" QT_QPA_PLATFORM=xcb mixxx --settingsPath "$settings/" >"$1" 2>&1 &
    mixxx_pid=$!
}

# Waits up to $1 seconds for the command in the rest of the arguments to succeed.
wait_until() {
    limit=$1; shift
    elapsed=0
    while [ "$elapsed" -lt "$limit" ]; do
        "$@" >/dev/null 2>&1 && return 0
        kill -0 "$mixxx_pid" 2>/dev/null || return 1
        sleep 1; elapsed=$((elapsed + 1))
    done
    return 1
}

# The display is this test's own, so names alone find Mixxx's windows (xdotool's --pid together
# with --name matches windows of other names too).
windows() { xdotool search --onlyvisible --name "$1" | grep .; }

# Without a sound card Mixxx asks, at a moment of its choosing, whether to go on without output:
# it does (Return: "Continue", again until the question has gone). Succeeds once it has gone.
answer_sound_dialog() {
    dialog=$(windows '^No Output Devices$' | head -n 1)
    if [ -n "$dialog" ]; then
        xdotool windowfocus --sync "$dialog" key Return
        answered=1
        return 1
    fi
    [ -n "${answered:-}" ]
}

# Ctrl+Q on its main window (the first it lists; the others are its widgets), every 10 s until
# Mixxx has closed its library and left: on a busy machine it may still be starting.
quit_mixxx() {
    for second in $(seq 0 179); do
        kill -0 "$mixxx_pid" 2>/dev/null || { wait "$mixxx_pid"; return 0; }
        answer_sound_dialog
        main=$(windows '^Mixxx$' | head -n 1)
        if [ $((second % 10)) -eq 5 ] && [ -n "$main" ]; then
            timeout 5 xdotool windowfocus --sync "$main" key ctrl+q
        fi
        sleep 1
    done
    import -window root "$work/not-quitting.png" 2>/dev/null
    kill "$mixxx_pid"; wait "$mixxx_pid"
    fail "Mixxx did not quit on Ctrl+Q (screen: $work/not-quitting.png)"
}

# What a failure report needs: the folders Mixxx was given, how far its scan came, its screen.
show_state() {
    cp "$database" "$work/state.sqlite" 2>/dev/null \
        && echo "folders: $(sqlite3 -batch -noheader "file:$work/state.sqlite?mode=ro" 'SELECT directory FROM directories' 2>&1)" >&2
    grep -h -e 'Recursively scanning' -e 'TrackDAO: Adding' -e 'Finished' -e 'rror' \
        "$settings"/mixxx.log* 2>/dev/null | tail -n 15 >&2
    import -window root "$work/failed.png" 2>/dev/null && echo "screen: $work/failed.png" >&2
}

case "$mode" in
library)
    fixtures=$3
    rm -rf "$work"; mkdir -p "$work/home" "$settings" "$work/music"
    "$fixtures" "$work/music" >/dev/null || fail "fixtures"
    command -v mixxx >/dev/null || skip "Mixxx is not installed (Debian package mixxx)"
    command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v sqlite3 >/dev/null \
        || skip "xvfb-run, xdotool or sqlite3 is missing"
    on_display "$@"
    start_mixxx "$work/first-start.log"
    # The first start asks for the music folder.
    dialog_shown() { xdotool search --onlyvisible --name 'Choose music library directory'; }
    wait_until 120 dialog_shown || { kill "$mixxx_pid" 2>/dev/null; skip "Mixxx did not start here: $(tail -n 3 "$work/first-start.log")"; }
    # On a busy machine keys sent as the dialog appears can be lost: the folder is typed again
    # until the dialog has gone.
    for attempt in 1 2 3 4 5; do
        dialog=$(dialog_shown | head -n 1)
        [ -n "$dialog" ] || break
        sleep "$attempt"
        xdotool windowfocus --sync "$dialog" key ctrl+a
        xdotool type --delay 20 "$work/music"
        xdotool key Return
        sleep 2
    done
    dialog_shown >/dev/null && { show_state; fail "the music folder dialog did not take $work/music"; }
    # Polled on a copy, so that no reader holds a lock while Mixxx writes. A copy taken mid-write
    # may not open; it is taken again a second later.
    scanned() {
        cp "$database" "$work/poll.sqlite" 2>/dev/null || return 1
        count=$(sqlite3 -batch -noheader "file:$work/poll.sqlite?mode=ro" 'SELECT COUNT(*) FROM library' 2>/dev/null)
        test "${count:-0}" -gt 0
    }
    # Mixxx 2.3 can end its scan before its import threads hand it the tracks: it then logs
    # "Failed to add track" for each and the library stays empty. Mixxx is started again with a
    # rescan at start-up, at most twice.
    import_failed() { grep -q 'Failed to add track to library' "$settings/mixxx.log" 2>/dev/null; }
    scanned_or_failed() { answer_sound_dialog; scanned || import_failed; }
    for attempt in 1 2 3; do
        wait_until 240 scanned_or_failed || break
        scanned && break
        [ "$attempt" -eq 3 ] && break
        echo "Mixxx's scan added no track (attempt $attempt); starting it again with a rescan"
        quit_mixxx
        printf '\n[Library]\nRescanOnStartup 1\n' >>"$settings/mixxx.cfg"
        answered=""
        start_mixxx "$work/start-$attempt.log"
    done
    scanned || { show_state; fail "Mixxx found no track in $work/music"; }
    quit_mixxx
    # The crate step's Mixxx opens the library as a user's would, without a rescan.
    sed -i '/^RescanOnStartup /d' "$settings/mixxx.cfg"
    echo "Mixxx knows $(sql 'SELECT COUNT(*) FROM library') tracks"
    ;;
crate)
    sondrel=$3
    if [ -e "$work/skip" ]; then echo "SKIPPED: $(cat "$work/skip")"; exit 77; fi
    test -e "$database" || fail "no Mixxx library (did the library step run?)"
    on_display "$@"
    export XDG_DATA_HOME="$work/data"
    # A failed file that Mixxx has never seen.
    late=$(sql "SELECT location FROM track_locations WHERE location LIKE '%.mp3' LIMIT 1")
    cp "$late" "$work/music/added-after-the-scan.mp3"
    process() { "$sondrel" process "$work/music" --crate "$crate" --mixxx-db "$database" --threshold 320 "$@"; }

    process --dry-run >"$work/plan" || fail "dry run"
    grep -q '^crate: .*added-after-the-scan.mp3 (Not in the Mixxx library)$' "$work/plan" || fail "plan: $(cat "$work/plan")"
    test ! -e "$database.sondrel-backup" || fail "a dry run wrote a backup"
    test -z "$(sql "SELECT id FROM crates WHERE name = '$crate'")" || fail "a dry run made the crate"

    process --yes >"$work/out" 2>"$work/err" || fail "process: $(cat "$work/out" "$work/err")"
    added=$(sed -n 's/^\([0-9]*\) files added to Mixxx crate$/\1/p' "$work/out")
    test -n "$added" && test "$added" -gt 0 || fail "nothing added: $(cat "$work/out")"
    unknown() { sed -n '/^Not in the Mixxx library$/,$p' "$1"; }
    unknown "$work/out" | grep -q 'added-after-the-scan' || fail "unknown file not listed: $(cat "$work/out")"
    in_crate="SELECT COUNT(*) FROM crate_tracks JOIN crates ON crates.id = crate_tracks.crate_id WHERE crates.name = '$crate'"
    test "$(sql "$in_crate")" -eq "$added" || fail "crate holds $(sql "$in_crate"), $added reported"
    test -s "$database.sondrel-backup" || fail "no backup"
    test -z "$(sqlite3 "$database.sondrel-backup" "SELECT id FROM crates WHERE name = '$crate'")" \
        || fail "the backup was taken after the write"

    # Again, with a rename: nothing is added twice, and the crate step still finds every file
    # under the path Mixxx knows because it runs before the rename.
    process --yes --rename >"$work/again" 2>&1 || fail "second run: $(cat "$work/again")"
    grep -q 'files added to Mixxx crate' "$work/again" && fail "second run added files: $(cat "$work/again")"
    grep -q 'files renamed' "$work/again" || fail "no rename: $(cat "$work/again")"
    test "$(unknown "$work/again")" = "$(unknown "$work/out")" || fail "the crate ran after the rename: $(cat "$work/again")"
    test "$(sql "$in_crate")" -eq "$added" || fail "second run changed the crate"

    answered=""
    start_mixxx "$work/second-start.log"
    # Refused while Mixxx runs.
    running() { windows '^Mixxx$'; }
    wait_until 120 running || fail "Mixxx did not start again: $(tail -n 5 "$work/second-start.log")"
    process --yes >"$work/running" 2>&1 && fail "ran while Mixxx was running"
    grep -q 'Mixxx is running' "$work/running" || fail "refusal: $(cat "$work/running")"
    quit_mixxx
    grep -q 'Upgrading database schema' "$settings/mixxx.log" && fail "Mixxx rebuilt its schema"
    test "$(sql "SELECT value FROM settings WHERE name = 'mixxx.schema.last_used_version'")" = 32 \
        || fail "Mixxx did not use the library"
    test "$(sql "$in_crate")" -eq "$added" || fail "crate lost tracks after Mixxx reopened it"
    test "$(sql 'PRAGMA integrity_check')" = ok || fail "integrity check"
    echo "crate \"$crate\" holds $added tracks after Mixxx reopened the library"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
