#!/bin/sh
# Usage errors exit with 2 and name the option or the folder and the cause in words a user can
# act on.
#   usage_messages_test.sh SONDREL
sondrel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" HOME="$work"

fail() {
    echo "FAIL: $*"
    cat "$work/err"
    exit 1
}

# expects MESSAGE ARGUMENTS...: exit status 2 and MESSAGE on standard error.
expects() {
    message=$1
    shift
    "$sondrel" "$@" >/dev/null 2>"$work/err"
    status=$?
    test $status -eq 2 || fail "$*: exit status $status"
    grep -qF -- "$message" "$work/err" || fail "$*: no \"$message\""
}

mkdir -p "$work/lib/inside" "$work/outside"
ln -s "$work/outside" "$work/lib/ext"
ln -s inside "$work/lib/in"

expects '--jobs: takes a whole number from 1 to 1024 (files analysed at once), not "abc"' analyze --jobs abc x.mp3
expects '--jobs: takes a whole number from 1 to 1024' scan "$work/lib" --jobs 0
expects '--threshold: takes one of the quality thresholds 64, 96, 128, 160, 192, 224, 256 or 320 (kbps), not "99999999999999"' \
    scan "$work/lib" --threshold 99999999999999
expects '--threshold: takes one of the quality thresholds' process "$work/lib" --threshold 100
expects '--move and --trash cannot go together' process "$work/lib" --move --trash
expects '--move and --trash cannot go together' process "$work/lib" --move "$work/outside" --trash
expects '--move: takes the folder to move the failed files into, not the option --tag' process "$work/lib" --move --tag
expects "ext: leads to $work/outside, outside the library $work/lib" scan "$work/lib" --folder ext
# A link that stays inside the library is scanned.
"$sondrel" scan "$work/lib" --folder in >/dev/null 2>"$work/err" || fail "a link inside the library"
echo "usage messages name the option and the cause"
