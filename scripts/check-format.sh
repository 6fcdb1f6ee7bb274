#!/bin/sh
# Checks that the C++ lines changed on this branch follow .clang-format: the lines changed since
# the merge base with origin/main, or on main itself since the previous commit, committed or not.
# Lines nobody touched are not checked. Fix what it shows with: git clang-format BASE
set -eu
cd "$(dirname "$0")/.."
git rev-parse --git-dir >/dev/null 2>&1 || { echo "format check skipped: not a git checkout"; exit 0; }
head=$(git rev-parse HEAD)
base=$(git merge-base HEAD origin/main 2>/dev/null || true)
if [ -z "$base" ] || [ "$base" = "$head" ]; then
    base=$(git rev-parse --verify -q HEAD~1 || true)
fi
[ -n "$base" ] || { echo "format check skipped: no earlier commit"; exit 0; }
# Debian's git clang-format exits 0 even when it has changes to show: the diff itself is the verdict.
out=$(git clang-format --binary clang-format --extensions c,cc,cpp,h,hpp --diff "$base" 2>&1) || true
if printf '%s\n' "$out" | grep -q '^diff --git'; then
    echo "$out"
    echo "Changed lines are not formatted as .clang-format says; fix with: git clang-format $base" >&2
    exit 1
fi
echo "format check: changed lines since ${base%"${base#???????}"} follow .clang-format"
