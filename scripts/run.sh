#!/usr/bin/env bash
# The one run command: installs what is missing, builds, writes demo data when there is none,
# starts the application server on loopback over its embedded SQLite store, and opens the
# desktop. Without a display it runs a short demonstration through the headless scenario runner
# instead, and says so. The server stops when this script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
BUILD_DIR=${PDI_BUILD_DIR:-build}
DATA_DIR=${PDI_DATA_DIR:-run}
PORT=${PDI_PORT:-8470}
SERVER="$BUILD_DIR/server/pdi07310-server"
mkdir -p "$DATA_DIR"
if [ ! -f "$DATA_DIR/server.db" ] || [ ! -f "$DATA_DIR/local.db" ]; then
  rm -f "$DATA_DIR/server.db" "$DATA_DIR/local.db"
  "$SERVER" demo --db "$DATA_DIR/server.db" --local "$DATA_DIR/local.db" --products 300 --rows-per-product 6
fi

"$SERVER" serve --db "$DATA_DIR/server.db" --listen "127.0.0.1:$PORT" 2>"$DATA_DIR/server.log" &
SERVER_PID=$!
trap 'kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  grep -q "listening" "$DATA_DIR/server.log" 2>/dev/null && break
  if ! kill -0 "$SERVER_PID" 2>/dev/null; then
    echo "run: o servidor não iniciou; veja $DATA_DIR/server.log" >&2
    cat "$DATA_DIR/server.log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "run: servidor de aplicação em 127.0.0.1:$PORT (log em $DATA_DIR/server.log)"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$BUILD_DIR/desktop/pdi07310-desktop" --server "127.0.0.1:$PORT" --local "$DATA_DIR/local.db" --open
else
  echo "run: nenhuma tela gráfica disponível; executando a demonstração pelo executor de roteiros (pdi07310-scenario)"
  "$BUILD_DIR/scenario/pdi07310-scenario" --server "127.0.0.1:$PORT" --local "$DATA_DIR/local.db" \
    scenario/scripts/demo.scn
fi
