#!/bin/sh
# The manual page keeps up with the program: every subcommand and every option that a --help
# names is in the page, and --version prints the project's version.
#   manual_test.sh SONDREL PAGE VERSION
set -u
sondrel=$1
page=$2
version=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

test "$("$sondrel" --version)" = "Sondrel $version" || fail "--version printed: $("$sondrel" --version)"
# The page as text, roff's escaped hyphens as plain ones.
text=$(sed 's/\\-/-/g; s/\\f[BIRP]//g' "$page")
subcommands=$("$sondrel" --help | awk 'tolower($0) ~ /^subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }')
test -n "$subcommands" || fail "no subcommands in --help"
missing=""
for subcommand in "" $subcommands; do
    echo "$text" | grep -q "^\.B[I]* \"*$subcommand" || missing="$missing $subcommand"
    # The options as the help lists them, one per line: "  -o,--output TEXT ...".
    for option in $("$sondrel" $subcommand --help | grep -oE '^  +(-[a-z],)?--?[a-z][a-z-]*' | sed 's/.*,//; s/^ *//' | sort -u); do
        echo "$text" | grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" || missing="$missing ${subcommand:-sondrel}:$option"
    done
done
test -z "$missing" || fail "not in the manual page:$missing"
grep -q '^\.SH EXIT STATUS' "$page" || fail "no exit status section"
grep -q '^\.SH FILES' "$page" || fail "no files section"
grep -q '^\.SH EXAMPLES' "$page" || fail "no examples"
