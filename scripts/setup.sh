#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the system need, only those
# that are missing. Safe to run again; needs root (or sudo) only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3 libpq-dev libcpp-httplib-dev libsimdjson-dev rapidjson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev qt6-translations-l10n
  xvfb xauth fonts-dejavu-core xdotool openbox
  libboost-dev libssl-dev openssl
  postgresql curl
  libcli11-dev haproxy
  debhelper lintian
  libxlsxwriter-dev unzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
