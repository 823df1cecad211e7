#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with. Idempotent.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libsqlite3-dev sqlite3 zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libqscintilla2-qt6-dev qt6-charts-dev libqt6opengl6-dev
  xvfb xauth xdotool imagemagick fonts-dejavu-core
  mdbtools-dev libglib2.0-dev
  libpugixml-dev libinih-dev
  unixodbc-dev tdsodbc libsqliteodbc
  clang libclang-rt-dev
  dpkg-dev file fakeroot
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
