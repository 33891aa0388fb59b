#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the system need, only those
# that are missing, and the one npm package the tests use (jayson, pinned by
# tests/jsonrpc/package-lock.json, into tests/jsonrpc/node_modules). Safe to run again; needs root
# (or sudo) only when a Debian package is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

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
  libzstd-dev zlib1g-dev
  emscripten chromium nodejs
  libsodium-dev libldap-dev
  # The tests' throwaway directory (scripts/test.sh starts its own slapd on a free port; the
  # instance Debian's package may start on port 389 is not used: 'systemctl disable --now slapd').
  slapd ldap-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm is Debian's package "npm", or comes with a nodejs package from elsewhere.
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The JSON-RPC client of tests/jsonrpc, exactly as locked; installed again only when the lock changed.
lock=tests/jsonrpc/package-lock.json
stamp=tests/jsonrpc/node_modules/.installed-lock
if ! cmp -s "$lock" "$stamp" 2>/dev/null; then
  echo "setup: installing the npm packages of tests/jsonrpc (npm ci)"
  (cd tests/jsonrpc && npm ci --no-audit --no-fund --loglevel=error)
  cp "$lock" "$stamp"
fi

# The browser client: the released sources its WebAssembly build compiles (checked against
# web/sources.lock), and the browser tests' driver (puppeteer-core, from web/package-lock.json;
# it drives Debian's chromium and downloads no browser).
bash web/sources.sh
if [ ! -f web/node_modules/.package-lock.json ] || ! cmp -s web/package-lock.json web/node_modules/.setup-lock.json; then
  echo "setup: installing the browser tests' packages (npm ci in web/)"
  (cd web && npm ci --no-audit --no-fund --silent && cp package-lock.json node_modules/.setup-lock.json)
fi
