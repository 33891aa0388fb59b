#!/usr/bin/env bash
# Takes docs/screenshot.png (or the file given as $1; the main window at 1024x768, the smallest
# screen the desktop is made for) and, beside it, NAME-wide.png (at 1920x1080): writes demo
# data, starts the application
# server on it on a free loopback port, runs the desktop with --screenshot (it opens the screen,
# waits for the load, saves the main window as PNG and exits), then stops the server.
# Builds nothing: run scripts/build.sh first. The desktop runs on Qt's offscreen platform, or
# under Xvfb when PDI_SCREENSHOT_PLATFORM=xvfb.
# Environment: PDI_BUILD_DIR (default build), PDI_DEMO_PRODUCTS (default 40),
# PDI_DEMO_ROWS (related rows per product, default 6).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PDI_BUILD_DIR:-build}
SERVER="$BUILD_DIR/server/pdi07310-server"
DESKTOP="$BUILD_DIR/desktop/pdi07310-desktop"
OUT=${1:-docs/screenshot.png}
for f in "$SERVER" "$DESKTOP"; do
  if [[ ! -x "$f" ]]; then
    echo "screenshot: $f not found; build first (scripts/build.sh)" >&2
    exit 1
  fi
done
MODULE="$BUILD_DIR/module/libPKG_PDI07310.so"
[[ -f "$MODULE" ]] || { echo "screenshot: $MODULE not found; build first" >&2; exit 1; }

WORK=$(mktemp -d)
SERVER_PID=
cleanup() {
  if [[ -n "$SERVER_PID" ]] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

"$SERVER" demo --db "$WORK/server.db" --local "$WORK/local.db" \
  --products "${PDI_DEMO_PRODUCTS:-40}" --rows-per-product "${PDI_DEMO_ROWS:-6}" >&2
"$SERVER" serve --db "$WORK/server.db" --listen 127.0.0.1:0 2>"$WORK/serve.log" &
SERVER_PID=$!

PORT=
for _ in $(seq 1 100); do
  PORT=$(grep -o 'listening on https\?://127\.0\.0\.1:[0-9]*' "$WORK/serve.log" | head -1 | sed 's/.*://') || true
  [[ -n "$PORT" ]] && break
  kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/serve.log" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$PORT" ]] || { echo "screenshot: the server did not start" >&2; cat "$WORK/serve.log" >&2; exit 1; }

mkdir -p "$(dirname "$OUT")"
ARGS=(--config /dev/null --server "127.0.0.1:$PORT" --local "$WORK/local.db" --module "$MODULE"
      --screenshot "$OUT")
WIDE="${OUT%.png}-wide.png"
WIDE_ARGS=("${ARGS[@]/#$OUT/$WIDE}")
shoot() {
  local size=$1
  shift
  if [[ "${PDI_SCREENSHOT_PLATFORM:-offscreen}" == xvfb ]]; then
    xvfb-run -a -s "-screen 0 ${size}x24" "$DESKTOP" "$@" --window-size "$size"
  else
    QT_QPA_PLATFORM=offscreen "$DESKTOP" "$@" --window-size "$size"
  fi
}
shoot 1024x768 "${ARGS[@]}"
shoot 1920x1080 "${WIDE_ARGS[@]}"
echo "screenshot: $OUT $WIDE" >&2
