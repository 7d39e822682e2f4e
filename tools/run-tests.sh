#!/usr/bin/env bash
# Builds Brackwater and runs every test: once in a normal build and once more with the
# address and undefined-behaviour sanitizers. Starts a throwaway PostgreSQL server on
# loopback for the database tests and stops it afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

export QT_QPA_PLATFORM=offscreen
jobs="${BW_TEST_JOBS:-2}"

pgdir="$(mktemp -d /tmp/bw-pg.XXXXXX)"
pgport="${BW_PG_PORT:-$((20000 + RANDOM % 20000))}"
cleanup() { tools/pg-test-cluster.sh stop "$pgdir" >/dev/null 2>&1 || true; rm -rf "$pgdir"; }
trap cleanup EXIT
BW_PG_CONN="$(tools/pg-test-cluster.sh start "$pgdir" "$pgport" | tail -n 1)"
export BW_PG_CONN
echo "PostgreSQL for the tests: $BW_PG_CONN"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j "$jobs"

# What an installation is made of: the Debian package, the desktop entry, and the installed
# programs answering --help and --version from a temporary prefix.
tools/check-package.sh build-test

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer. Leak reports are
# off: Qt's platform plugins keep process-lifetime allocations that are not ours.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBW_SANITIZE=ON -DBW_BUILD_BENCH=OFF
cmake --build build-asan
ctest --test-dir build-asan --output-on-failure -j "$jobs"
