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
subcommands=$("$sondrel" --help | sed -n '/^SUBCOMMANDS:/,$p' | awk 'NR > 1 && NF { print $1 }')
test -n "$subcommands" || fail "no subcommands in --help"
missing=""
for subcommand in "" $subcommands; do
    echo "$text" | grep -q "^\.B[I]* \"*$subcommand" || missing="$missing $subcommand"
    for option in $("$sondrel" $subcommand --help | grep -o -- '--*[a-z][a-z-]*' | sort -u); do
        echo "$text" | grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" || missing="$missing ${subcommand:-sondrel}:$option"
    done
done
test -z "$missing" || fail "not in the manual page:$missing"
grep -q '^\.SH EXIT STATUS' "$page" || fail "no exit status section"
grep -q '^\.SH FILES' "$page" || fail "no files section"
grep -q '^\.SH EXAMPLES' "$page" || fail "no examples"
