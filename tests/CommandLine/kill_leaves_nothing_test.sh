#!/bin/sh
# A process killed at the worst moment leaves nothing that a later run does not clear: the tag
# writer between naming its new file and putting it in place, the trash between writing the
# info file and moving the file. strace stops the process at that very system call.
#   kill_leaves_nothing_test.sh SONDREL SONDREL_FIXTURES
sondrel=$1
fixtures=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" HOME="$work"

fail() {
    echo "FAIL: $*"
    ls -lA "$work/lib" "$work/data/Trash/info" "$work/data/Trash/files" 2>&1
    exit 1
}

# Runs sondrel, killed at its Nth renameat2() (the never-replacing and exchanging renames).
killed_at_rename() {
    n=$1
    shift
    strace -f -qq -o /dev/null -e trace=renameat2 -e inject=renameat2:signal=KILL:when="$n" "$sondrel" "$@" \
        >/dev/null 2>&1
}

"$fixtures" "$work/fixtures" >/dev/null || fail "fixtures"
mkdir "$work/lib"
cp "$work/fixtures/stereo-44100-mp3-cbr128-from-lossless.mp3" "$work/lib/a.mp3"
cp "$work/fixtures/stereo-44100-mp3-cbr128-from-lossless.mp3" "$work/lib/b.mp3"

killed_at_rename 1 process "$work/lib" --tag --yes
ls -A "$work/lib" | grep -q '^\.sondrel-' || fail "the kill did not land between naming and placing"
"$sondrel" process "$work/lib" --tag --yes >/dev/null 2>&1 || fail "tagging after the kill"
! ls -A "$work/lib" | grep -q '^\.sondrel-' || fail "the killed run's file is still there"

# Both files fail the default threshold of 320 kbps: the kill lands after a.mp3's info file.
killed_at_rename 2 process "$work/lib" --trash --yes
info="$work/data/Trash/info/a.mp3.trashinfo"
test -e "$info" && test ! -e "$work/data/Trash/files/a.mp3" || fail "the kill did not land between info and move"
# Another program's info file is given a few seconds before it counts as left behind.
touch -d '1 minute ago' "$info"
"$sondrel" process "$work/lib" --trash --yes >/dev/null 2>&1 || fail "trashing after the kill"
test -e "$work/data/Trash/files/a.mp3" || fail "a.mp3 did not get its own name in the Trash"
grep -qx "Path=$work/lib/a.mp3" "$info" || fail "the info file is not a.mp3's"
test "$(ls -A "$work/data/Trash/info" | wc -l)" -eq 2 || fail "info files left over"
test -z "$(ls -A "$work/lib")" || fail "files left in the library"
echo "nothing left behind by the kills"
