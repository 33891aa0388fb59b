#!/usr/bin/env bash
# Runs batch_client.js (jayson, a JSON-RPC client from npm) against a real server on demo data.
# Usage: batch_client_test.sh SERVER_BINARY WORK_DIR. Skips (exit 0, saying so) when node or npm is
# missing or jayson cannot be installed.
set -u
server=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are needed for the jayson batch test"; exit 0
fi
if [ ! -d "$work/node_modules/jayson" ]; then
  if ! timeout 240 npm install --silent --no-audit --no-fund --prefix "$work" jayson@4 >"$work/npm.log" 2>&1; then
    echo "SKIPPED: npm could not install jayson (see $work/npm.log)"; exit 0
  fi
fi
rm -f "$work/s.db" "$work/l.db"
"$server" demo --db "$work/s.db" --local "$work/l.db" --products 3 --rows-per-product 2 >/dev/null || exit 1
"$server" serve --db "$work/s.db" --listen 127.0.0.1:0 >"$work/server.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "server did not start"; cat "$work/server.log"; exit 1; }
NODE_PATH="$work/node_modules" timeout 60 node "$here/batch_client.js" "$port"
