#!/usr/bin/env bash
# Builds the release build into build/ (as scripts/setup.sh does) and makes the Debian package
# build/sondrel_<version>_<arch>.deb from it with CPack. Install it with
#   sudo apt install ./build/sondrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cd build
cpack -G DEB
ls -1 "$PWD"/sondrel_*.deb
