#!/bin/bash
# What bash offers after "sondrel ...", with Debian's bash-completion loaded.
#   completion_test.sh COMPLETION
set -u
completion=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
test -r /usr/share/bash-completion/bash_completion || { echo "SKIPPED: bash-completion is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Music Library" "$work/Mixes"
: >"$work/track.mp3"

# The words offered for a command line typed up to its end.
offers() {
    (cd "$work" && bash --norc --noprofile -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        COMP_LINE=$2
        COMP_POINT=${#COMP_LINE}
        read -r -a COMP_WORDS <<<"$COMP_LINE"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _sondrel
        printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$1")
}
expect() { # line, expected offers (one per line)
    got=$(offers "$1")
    test "$got" = "$2" || fail "\"$1\" offered [$got], expected [$2]"
}

expect "sondrel pro" "process"
expect "sondrel sp" "spectrogram"
expect "sondrel --v" "--version"
expect "sondrel scan --threshold " "$(printf '%s\n' 128 160 192 224 256 320 64 96)"
expect "sondrel process --threshold 1" "$(printf '%s\n' 128 160 192)"
expect "sondrel process --cr" "--crate"
expect "sondrel process --mi" "--mixxx-db"
expect "sondrel spectrogram --w" "--width"
expect "sondrel scan Mi" "Mixes"
expect "sondrel process Mu" "Music Library"
expect "sondrel process Music\\ Library --move Mi" "Mixes"
expect "sondrel analyze tr" "track.mp3"
offers "sondrel analyze --jobs " | grep -qx 4 || fail "--jobs offers no numbers"
