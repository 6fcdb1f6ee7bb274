#!/bin/sh
# `sondrel process --crate` on a small library shaped like Mixxx's: its refusals and its output.
#   crate_command_test.sh SONDREL FIXTURES
set -u
sondrel=$1
fixtures=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$fixtures" "$work/lib" >/dev/null || fail "fixtures"
db="$work/mixxxdb.sqlite"
make_library() { # $1: schema version; every MP3 of the library but one is known to Mixxx
    rm -f "$db"
    sqlite3 "$db" "CREATE TABLE settings (name TEXT UNIQUE NOT NULL, value TEXT, locked INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0);
        CREATE TABLE track_locations (id INTEGER PRIMARY KEY AUTOINCREMENT, location varchar(512) UNIQUE, filename varchar(512),
            directory varchar(512), filesize INTEGER, fs_deleted INTEGER, needs_verification INTEGER);
        CREATE TABLE library (id INTEGER primary key AUTOINCREMENT, location integer REFERENCES track_locations(location), mixxx_deleted integer);
        CREATE TABLE crates (id integer PRIMARY KEY AUTOINCREMENT, name varchar(48) UNIQUE NOT NULL, count integer DEFAULT 0,
            show integer DEFAULT 1, locked integer DEFAULT 0, autodj_source integer DEFAULT 0);
        CREATE TABLE crate_tracks (crate_id integer NOT NULL REFERENCES crates(id), track_id integer NOT NULL, UNIQUE (crate_id, track_id));
        INSERT INTO settings (name, value) VALUES ('mixxx.schema.version', '$1');" || fail "sqlite3"
    find "$work/lib" -name '*.mp3' | sort | tail -n +2 | while read -r file; do
        sqlite3 "$db" "INSERT INTO track_locations (location) VALUES ('$file');
            INSERT INTO library (location, mixxx_deleted) VALUES (last_insert_rowid(), 0);"
    done
}
process() { "$sondrel" process "$work/lib" --threshold 320 "$@"; }

make_library 31
process --crate "Sondrel: failed" --mixxx-db "$db" --yes >"$work/out" 2>"$work/err"
test $? -eq 2 || fail "untested schema: exit status"
grep -q 'schema version 31 has not been tested' "$work/err" || fail "untested schema: $(cat "$work/err")"
process --crate X --mixxx-db "$work/none.sqlite" --yes >/dev/null 2>"$work/err"
test $? -eq 2 || fail "missing database: exit status"
test ! -e "$work/none.sqlite" || fail "a missing database was created"
process --mixxx-db "$db" --dry-run >/dev/null 2>&1
test $? -eq 2 || fail "--mixxx-db without --crate"

make_library 32
# Not on a terminal and without --yes: refused, nothing written.
process --crate "Sondrel: failed" --mixxx-db "$db" </dev/null >/dev/null 2>"$work/err"
test $? -eq 2 || fail "no confirmation: exit status"
grep -q 'Mixxx crate "Sondrel: failed"' "$work/err" || fail "no confirmation: $(cat "$work/err")"
test "$(sqlite3 "$db" 'SELECT COUNT(*) FROM crates')" -eq 0 || fail "crate made without confirmation"

process --crate "Sondrel: failed" --mixxx-db "$db" --dry-run >"$work/plan" 2>/dev/null || fail "dry run"
grep -q '^crate: .*(Not in the Mixxx library)$' "$work/plan" || fail "plan: $(cat "$work/plan")"
planned=$(grep -c '^crate: .*[^)]$' "$work/plan")
test "$(sqlite3 "$db" 'SELECT COUNT(*) FROM crates')" -eq 0 || fail "dry run made the crate"

process --crate "Sondrel: failed" --mixxx-db "$db" --yes >"$work/out" 2>/dev/null || fail "process: $(cat "$work/out")"
grep -qx "$planned files added to Mixxx crate" "$work/out" || fail "planned $planned: $(cat "$work/out")"
grep -qx 'Not in the Mixxx library' "$work/out" || fail "unknown files not listed"
test "$(sqlite3 "$db" 'SELECT COUNT(*) FROM crate_tracks')" -eq "$planned" || fail "crate rows"
test -s "$db.sondrel-backup" || fail "no backup"
process --crate "Sondrel: failed" --mixxx-db "$db" --yes >"$work/again" 2>/dev/null || fail "again"
grep -q 'added to Mixxx crate' "$work/again" && fail "added twice: $(cat "$work/again")"
test "$(sqlite3 "$db" 'SELECT COUNT(*) FROM crate_tracks')" -eq "$planned" || fail "crate rows after a second run"
exit 0
