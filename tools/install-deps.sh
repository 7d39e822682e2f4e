#!/usr/bin/env bash
# Installs what building, running and testing Brackwater needs (Debian 12, as root).
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev
  libqt6sql6-sqlite libqt6sql6-odbc libqt6sql6-psql
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-zenhei xvfb xauth
  postgresql
  qt6-translations-l10n
  # the Debian package: dpkg-shlibdeps finds its dependencies, file tells it the programs
  dpkg-dev file desktop-file-utils
  # ODBC back ends: unixODBC with the PostgreSQL, SQLite and FreeTDS drivers
  unixodbc odbc-postgresql libsqliteodbc tdsodbc
)

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
