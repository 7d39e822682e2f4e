#!/usr/bin/env bash
# Builds the Debian package of Brackwater on a fresh Debian 12 machine: installs what the
# build needs (not the test servers), builds the programs (without tests and benchmarks) and
# runs CPack.
# The package ends up in build-deb/; its path is printed last.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh build
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DBW_BUILD_TESTS=OFF \
      -DBW_BUILD_BENCH=OFF >/dev/null
cmake --build build-deb
(cd build-deb && cpack -G DEB >/dev/null)
ls "$PWD"/build-deb/brackwater_*.deb
