#!/usr/bin/env bash
# The desktop by keyboard only, under a real X server: Xvfb with a small window manager
# (openbox), keys sent as X events by xdotool to the whole desktop, as a clerk types. First the
# desktop starts against a stopped server (kill -STOP): the window appears, Esc ends the wait and
# Alt+F4 closes it at once. Then it opens the screen by the menu, browses with the arrows,
# reaches the supplier list with Ctrl+Tab, adds one supplier by typing its CNPJ right after
# Insert and one by the pick list, switches to Cliente with Ctrl+PageDown, deletes a client
# answering the question with "s", visits the history panel with F6, starts and abandons a
# product, and closes the screen and the desktop with a pending row, answering Não. Along the way
# it checks the focused widget and the dialogs shown (the desktop's --focus-log) and, at the end
# of each step, the rows stored at the server.
# Usage: keyboard_e2e.sh SERVER_BINARY DESKTOP_BINARY SCREEN_MODULE
# Exit 0 when every check held, 1 at the first that failed, 77 (skipped) when Xvfb cannot start.
set -euo pipefail
SERVER=$1 DESKTOP=$2 MODULE=$3
for tool in Xvfb xdotool openbox sqlite3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
FOCUS="$WORK/focus.log"
DB="$WORK/server.db"

fail() {
  echo "FAIL: $*"
  echo "--- focus log (last lines)"; tail -n 15 "$FOCUS" 2>/dev/null || true
  echo "--- desktop output"; tail -n 20 "$WORK/desktop.log" 2>/dev/null || true
  exit 1
}
# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s until it succeeds.
wait_for() {
  local limit=$1 what=$2
  shift 2
  local tries=$((limit * 10))
  while ((tries-- > 0)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  fail "$what (waited ${limit} s)"
}
last_focus() { grep '^focus: ' "$FOCUS" 2>/dev/null | tail -n 1 | cut -c8-; }
focus_is() { [ "$(last_focus)" = "$1" ]; }
expect_focus() { wait_for 10 "the focus should be on $1, it is on '$(last_focus)'" focus_is "$1"; echo "ok: focus on $1"; }
dialog_seen() { grep -qF "dialog: $1" "$FOCUS"; }
expect_dialog() { wait_for 10 "the question '$1' should be shown" dialog_seen "$1"; echo "ok: asked '$1'"; }
sql() { sqlite3 -cmd ".timeout 5000" "$DB" "$1"; }
sql_is() { [ "$(sql "$1")" = "$2" ]; }
expect_sql() { wait_for 15 "$3: '$1' should give $2, gives $(sql "$1")" sql_is "$1" "$2"; echo "ok: $3"; }
key() { xdotool key --delay 60 "$@"; sleep 0.2; }

# ---- the server on demo data ----------------------------------------------------------------
"$SERVER" demo --db "$DB" --local "$WORK/local.db" --products 20 --rows-per-product 3 >/dev/null 2>&1
"$SERVER" serve --db "$DB" --listen 127.0.0.1:0 2>"$WORK/serve.log" &
SERVER_PID=$!
PIDS+=($SERVER_PID)
port() { grep -o 'listening on http://127\.0\.0\.1:[0-9]*' "$WORK/serve.log" | head -1 | sed 's/.*://'; }
wait_for 20 "the server should start" port
PORT=$(port)
[ -n "$PORT" ] || fail "no server port"

# ---- the X server and the window manager ----------------------------------------------------
DISPLAY_NUMBER=
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { DISPLAY_NUMBER=$n; break; }
done
[ -n "$DISPLAY_NUMBER" ] || { echo "SKIP: no free X display number"; exit 77; }
export DISPLAY=":$DISPLAY_NUMBER"
export QT_QPA_PLATFORM=xcb  # the suite runs the other desktop tests offscreen
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
ready=0
for _ in $(seq 1 50); do
  if xdotool getdisplaygeometry >/dev/null 2>&1; then ready=1; break; fi
  sleep 0.1
done
if [ "$ready" != 1 ]; then
  echo "SKIP: Xvfb could not start on $DISPLAY: $(head -c 300 "$WORK/xvfb.log")"
  exit 77
fi
openbox --sm-disable >/dev/null 2>&1 &
PIDS+=($!)
sleep 0.5

# ---- the desktop ----------------------------------------------------------------------------
main_window() { xdotool search --onlyvisible --name "PDI07310 - Deso" | head -1 | grep .; }
gone() { ! kill -0 "$DESKTOP_PID" 2>/dev/null; }
start_desktop() {
  : >"$FOCUS"
  "$DESKTOP" --config /dev/null --server "127.0.0.1:$PORT" --local "$WORK/local.db" --module "$MODULE" \
    --focus-log "$FOCUS" "$@" >"$WORK/desktop.log" 2>&1 &
  DESKTOP_PID=$!
  PIDS+=($DESKTOP_PID)
  wait_for 20 "the desktop's main window should appear" main_window
  WINDOW=$(main_window)
  timeout 10 xdotool windowactivate --sync "$WINDOW" || fail "the main window could not be activated"
  sleep 0.5
}

echo "== start-up against a stopped server: the window answers, Esc ends the wait, Alt+F4 closes"
kill -STOP "$SERVER_PID"
start_desktop --open
sleep 2.5  # the screen's first call is waiting; Cancelar is offered
key Escape
wait_for 2 "Esc should end the wait at once" dialog_seen "A chamada ao servidor 127.0.0.1:$PORT foi cancelada"
echo "ok: Esc ended the wait"
key Return
key alt+F4
wait_for 3 "Alt+F4 should close the desktop at once (the refresh still waits)" gone
echo "ok: closed while the local database's refresh was still waiting"
start_desktop --open
sleep 1
key alt+F4
wait_for 5 "Alt+F4 during the wait should end it and close" gone
echo "ok: Alt+F4 during the wait ended it and closed"
kill -CONT "$SERVER_PID"

start_desktop

SUPPLIERS_BEFORE=$(sql "SELECT count(*) FROM DESONERA_FORNECEDOR")
# Two suppliers linked to no product, so either can be added to any product.
mapfile -t FREE < <(sql "SELECT NRINSJURFORN || '|' || NMRAZSOCFORN FROM FORNECEDOR WHERE length(NRINSJURFORN) = 14
                         AND CDFORNECED NOT IN (SELECT CDFORNECED FROM DESONERA_FORNECEDOR) ORDER BY 1 LIMIT 2")
[ "${#FREE[@]}" = 2 ] || fail "the demo data should have two suppliers linked to no product"
TYPED_CNPJ=${FREE[0]%%|*}
PICKED_NAME=${FREE[1]#*|}
PICKED_WORD=${PICKED_NAME%% *}

echo "== open the screen by the menu (Alt+C, Enter)"
key alt+c
sleep 0.3
key Return
expect_focus dbgPadrao

echo "== browse with the arrows; Ctrl+Tab reaches the supplier list"
key Down
key Down
key Up
expect_focus dbgPadrao
key ctrl+Tab
expect_focus dbgFornecedor

echo "== a supplier typed by its CNPJ ($TYPED_CNPJ) is stored when the list is left"
key Insert
xdotool type --delay 40 "$TYPED_CNPJ"
key Tab
key ctrl+Tab
expect_focus dbgPadrao
expect_sql "SELECT count(*) FROM DESONERA_FORNECEDOR" $((SUPPLIERS_BEFORE + 1)) "the typed supplier is stored"

echo "== a supplier chosen from the pick list ($PICKED_NAME)"
key ctrl+Tab
expect_focus dbgFornecedor
key Insert
key ctrl+Return
expect_focus pickSearch
xdotool type --delay 40 "$PICKED_WORD"
key Return
expect_focus dbgFornecedor
key ctrl+Tab
expect_focus dbgPadrao
expect_sql "SELECT count(*) FROM DESONERA_FORNECEDOR" $((SUPPLIERS_BEFORE + 2)) "the picked supplier is stored"
expect_sql "SELECT count(DISTINCT CDPRODUTODES) FROM DESONERA_FORNECEDOR f JOIN FORNECEDOR m USING (CDFORNECED)
            WHERE m.NRINSJURFORN = '$TYPED_CNPJ' OR m.NMRAZSOCFORN = '$PICKED_NAME'" 1 \
           "both suppliers went to the same product"
PRODUCT=$(sql "SELECT f.CDPRODUTODES FROM DESONERA_FORNECEDOR f JOIN FORNECEDOR m USING (CDFORNECED)
               WHERE m.NRINSJURFORN = '$TYPED_CNPJ'")
PRODUCT=${PRODUCT//\'/\'\'}  # quoted for SQL (demo codes may hold an apostrophe)

echo "== Ctrl+PageDown shows Cliente; a client is deleted answering Sim"
CLIENTS_BEFORE=$(sql "SELECT count(*) FROM DESONERA_CLIENTE WHERE CDPRODUTODES = '$PRODUCT'")
[ "$CLIENTS_BEFORE" -ge 1 ] || fail "product $PRODUCT should have a client in the demo data"
key ctrl+Next
expect_focus pgcGrade_tabs
key ctrl+Tab
expect_focus dbgCliente
key ctrl+Delete
expect_dialog "Excluir registro?"
key s
expect_focus dbgCliente
expect_sql "SELECT count(*) FROM DESONERA_CLIENTE WHERE CDPRODUTODES = '$PRODUCT'" $((CLIENTS_BEFORE - 1)) \
           "the client is deleted at the server"

echo "== F6 takes the focus to the history panel, Esc brings it back"
key F6
expect_focus tblHistorico
key Escape
expect_focus dbgCliente

echo "== a product started and abandoned stores nothing"
PRODUCTS_BEFORE=$(sql "SELECT count(*) FROM DESONERA_FORNECEDOR")
key ctrl+Tab
expect_focus dbgPadrao
key Insert
xdotool type --delay 40 "12"
key Escape
sleep 0.5
if dialog_seen "Deseja cancelar"; then key Return; fi
expect_focus dbgPadrao
expect_sql "SELECT count(*) FROM DESONERA_FORNECEDOR" "$PRODUCTS_BEFORE" "nothing stored for the abandoned product"

echo "== closing the screen with a pending row asks; Não keeps it open"
key Insert
expect_focus dbgPadrao
key ctrl+F4
expect_dialog "Há um registro em inclusão que não foi confirmado. Deseja descartá-lo?"
key Return
expect_focus dbgPadrao
echo "== quitting the desktop with a pending row asks; Não keeps it running"
: >"$FOCUS"
key alt+F4
expect_dialog "Há um registro em inclusão que não foi confirmado. Deseja descartá-lo?"
key Return
expect_focus dbgPadrao
sleep 0.5
kill -0 "$DESKTOP_PID" 2>/dev/null || fail "the desktop should still run after answering Não"
echo "PASS: the desktop by keyboard"
