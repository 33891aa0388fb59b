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
  libxlsxwriter-dev unzip
  emscripten chromium nodejs
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

# The browser client: the released sources its WebAssembly build compiles (checked against
# web/sources.lock), and the browser tests' driver (puppeteer-core, from web/package-lock.json;
# it drives Debian's chromium and downloads no browser).
if ! command -v npm >/dev/null; then
  # Debian's npm, only where no npm came with the machine's Node.js.
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends npm
fi
bash web/sources.sh
if [ ! -f web/node_modules/.package-lock.json ] || ! cmp -s web/package-lock.json web/node_modules/.setup-lock.json; then
  echo "setup: installing the browser tests' packages (npm ci in web/)"
  (cd web && npm ci --no-audit --no-fund --silent && cp package-lock.json node_modules/.setup-lock.json)
fi
