#!/bin/sh
# Makes the Debian package from a build folder with CPack, unpacks it (and, as root on a CI
# machine, installs it with dpkg) and runs what it installed: the program and its manual page.
#   deb_test.sh BUILD_DIR VERSION
set -u
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || fail "cpack: $(tail -n 20 "$work/cpack.log")"
deb=$(ls "$work"/sondrel_"$version"_*.deb) || fail "no package: $(ls "$work")"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6core6 libavcodec59 libfftw3-single3 libsqlite3-0 qt6-qpa-plugins; do
    echo "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
for file in usr/bin/sondrel usr/share/man/man1/sondrel.1.gz usr/share/bash-completion/completions/sondrel \
    usr/share/applications/org.sondrel.Sondrel.desktop usr/share/metainfo/org.sondrel.Sondrel.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.sondrel.Sondrel.svg; do
    test -f "$root/$file" || fail "package lacks /$file"
done
test "$("$root/usr/bin/sondrel" --version)" = "Sondrel $version" || fail "installed --version"
MANPAGER=cat MANWIDTH=100 man -l "$root/usr/share/man/man1/sondrel.1.gz" >"$work/page" 2>"$work/man.err" \
    || fail "man -l: $(cat "$work/man.err")"
grep -q -- '--crate NAME' "$work/page" || fail "page as shown: $(head -n 20 "$work/page")"

if [ "$(id -u)" = 0 ] && [ "${CI:-}" = true ]; then
    dpkg -i "$deb" || fail "dpkg -i"
    test "$(sondrel --version)" = "Sondrel $version" || fail "sondrel --version after dpkg -i"
    MANPAGER=cat man sondrel | grep -q -- '--mixxx-db' || fail "man sondrel after dpkg -i"
fi
echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Installed-Size) KiB installed"
