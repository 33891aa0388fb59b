#!/usr/bin/env bash
# Runs batch_client.js (jayson, a JSON-RPC client from npm) against a real server on demo data.
# Usage: batch_client_test.sh SERVER_BINARY WORK_DIR NODE_MODULES
# jayson comes from tests/jsonrpc/package-lock.json, installed by scripts/setup.sh (npm ci) into
# NODE_MODULES; without node or jayson the test fails, saying how to install them. The server is
# started as tests/support/ServerProcess starts it: serve --db DB --create --listen 127.0.0.1:0,
# then the port read from its "listening on" line.
set -u
server=$1
work=$2
modules=$3
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v node >/dev/null; then
  echo "FAILED: node is needed for the jayson batch test (bash scripts/setup.sh installs it)"; exit 1
fi
if [ ! -d "$modules/jayson" ]; then
  echo "FAILED: jayson is not installed in $modules (bash scripts/setup.sh installs it from $here/package-lock.json)"
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
"$server" demo --db "$work/s.db" --local "$work/l.db" --products 3 --rows-per-product 2 >/dev/null || exit 1
"$server" serve --db "$work/s.db" --create --listen 127.0.0.1:0 2>"$work/server.log" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
port=
for _ in $(seq 1 300); do
  port=$(sed -n 's|.*listening on https\{0,1\}://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start; its log:"; cat "$work/server.log"; exit 1; }
NODE_PATH="$modules" timeout 60 node "$here/batch_client.js" "$port"
