#!/usr/bin/env bash
# The one run command: installs what is missing, builds, writes demo data when there is none,
# starts the application server on loopback over its embedded SQLite store, prints the address of
# the screen in a browser, and opens the desktop. Without a display it runs a short demonstration
# through the headless scenario runner instead, and says so. The server (and the page) stay up
# until the desktop closes, or, without a display, until Ctrl+C.
# Builds only what running needs (server, screen module, desktop, scenario runner, browser client).
# Options: --verbose prints the demonstration's whole log instead of its short narrative;
# --no-wait ends after the demonstration instead of serving the page until Ctrl+C.
# Environment: PDI_PORT (server port, default 8470), PDI_DATA_DIR (demo data and logs, default
# run/), PDI_BUILD_DIR (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
VERBOSE=0
WAIT=1
for arg in "$@"; do
  case "$arg" in
    --verbose) VERBOSE=1 ;;
    --no-wait) WAIT=0 ;;
    *) echo "run: opção desconhecida $arg (use --verbose ou --no-wait)" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh
if [ ! -x "${PDI_BUILD_DIR:-build}/desktop/pdi07310-desktop" ]; then
  echo "run: compilando o servidor, a tela, o desktop e o executor de roteiros;"
  echo "run: a primeira compilação leva alguns minutos (as seguintes são rápidas)."
else
  echo "run: atualizando a compilação..."
fi
PDI_BUILD_TARGETS="pdi07310-server PKG_PDI07310 pdi07310-desktop pdi07310-scenario" bash scripts/build.sh
BUILD_DIR=${PDI_BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/web/dist/index.html" ]; then
  echo "run: compilando a tela para o navegador (WebAssembly); a primeira vez leva alguns minutos."
fi
bash scripts/build-web.sh >/dev/null
DATA_DIR=${PDI_DATA_DIR:-run}
PORT=${PDI_PORT:-8470}
SERVER="$BUILD_DIR/server/pdi07310-server"
mkdir -p "$DATA_DIR"
if [ ! -f "$DATA_DIR/server.db" ] || [ ! -f "$DATA_DIR/local.db" ]; then
  rm -f "$DATA_DIR/server.db" "$DATA_DIR/local.db"
  echo "run: gravando dados de demonstração em $DATA_DIR/"
  "$SERVER" demo --db "$DATA_DIR/server.db" --local "$DATA_DIR/local.db" --products 300 --rows-per-product 6
fi

"$SERVER" serve --db "$DATA_DIR/server.db" --listen "127.0.0.1:$PORT" --web "$BUILD_DIR/web/dist" \
  2>"$DATA_DIR/server.log" &
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

echo "run: a tela no navegador: abra http://127.0.0.1:$PORT/"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$BUILD_DIR/desktop/pdi07310-desktop" --server "127.0.0.1:$PORT" --local "$DATA_DIR/local.db" --open
else
  echo "run: nenhuma tela gráfica disponível; executando a demonstração pelo executor de roteiros (pdi07310-scenario)"
  NARRATIVE=(--narrative)
  [ "$VERBOSE" = 1 ] && NARRATIVE=()
  "$BUILD_DIR/scenario/pdi07310-scenario" --server "127.0.0.1:$PORT" --local "$DATA_DIR/local.db" \
    "${NARRATIVE[@]}" scenario/scripts/demo.scn
  if [ "$WAIT" = 1 ]; then
    echo "run: a tela continua no navegador em http://127.0.0.1:$PORT/ (Ctrl+C encerra o servidor)"
    wait "$SERVER_PID"
  fi
fi
