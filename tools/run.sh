#!/usr/bin/env bash
# Builds Brackwater and starts the console with the terminal-management window above it, on
# the embedded default: an SQLite host database in the user's data folder and the terminal
# simulator. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target brackwater brackwater-sim brackwater-bell brackwater-collect \
  brackwater-site

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/brackwater --sim "$@"
fi
echo "No display found: running the window on a virtual X display (xvfb-run)." >&2
exec xvfb-run -a build/brackwater --sim "$@"
