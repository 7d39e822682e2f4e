#!/usr/bin/env bash
# Installs what building, running and testing Brackwater needs (Debian 12, as root).
# "tools/install-deps.sh build" installs only what building the programs and the Debian
# package needs. Does nothing when everything is already there.
set -euo pipefail

build=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-charts-dev
  # Qt Charts' CMake files look for Qt OpenGL's, which Debian 12 ships apart
  libqt6opengl6-dev
  # the Debian package: dpkg-shlibdeps finds its dependencies, file tells it the programs
  dpkg-dev file
  # operators: Argon2id password hashes, PostgreSQL password verifiers
  libsodium-dev libpq-dev
  # the monthly report: its workbooks, and SQLite's own interface for reading the records
  libxlsxwriter-dev libsqlite3-dev
  # the web view: its self-signed certificate and key (libcrypto), Chart.js for its meals chart
  libssl-dev libjs-chart.js
)
run_and_test=(
  libqt6sql6-sqlite libqt6sql6-odbc libqt6sql6-psql
  libgtest-dev libgmock-dev libbenchmark-dev
  # the backup bench compares with the sqlite3 program's .backup
  sqlite3
  fonts-wqy-zenhei xvfb xauth
  postgresql
  qt6-translations-l10n
  # checking the package: its desktop entry, lintian, systemd-analyze for its units, and the
  # accounts of the installed site
  desktop-file-utils lintian systemd adduser
  # ODBC back ends: unixODBC with the PostgreSQL, SQLite and FreeTDS drivers
  unixodbc odbc-postgresql libsqliteodbc tdsodbc
  # the web view's test in a real browser
  chromium chromium-driver python3-selenium
)
case "${1:-all}" in
  build) packages=("${build[@]}") ;;
  all) packages=("${build[@]}" "${run_and_test[@]}") ;;
  *) echo "usage: $0 [build|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
