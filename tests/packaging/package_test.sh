#!/usr/bin/env bash
# The Debian packages, built with cpack from this build's binaries into a scratch folder: their
# contents, the systemd unit (systemd-analyze verify, when available), and the server started from
# the files unpacked with dpkg-deb -x into a scratch root, on its packaged configuration file.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/pdi-package-test.XXXXXX)
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && timeout 240 cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/dist" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
server_deb=$(ls "$work"/dist/pdi07310-server_*.deb)
contents=$(dpkg-deb -c "$server_deb" | awk '{print $6}')
for f in ./usr/bin/pdi07310-server ./usr/lib/systemd/system/pdi07310-server.service ./etc/pdi07310/server.conf; do
  grep -qx "$f" <<<"$contents" || fail "$f missing from the server package"
done
dpkg-deb -I "$server_deb" conffiles | grep -qx /etc/pdi07310/server.conf || fail "server.conf is not a conffile"
if desktop_deb=$(ls "$work"/dist/pdi07310-desktop_*.deb 2>/dev/null); then
  dcontents=$(dpkg-deb -c "$desktop_deb" | awk '{print $6}')
  for f in ./usr/lib/pdi07310/pdi07310-desktop ./usr/lib/pdi07310/libPKG_PDI07310.so ./usr/lib/pdi07310/libpdi_host.so \
           ./usr/share/applications/pdi07310-desktop.desktop ./usr/share/icons/hicolor/scalable/apps/pdi07310.svg; do
    grep -qx "$f" <<<"$dcontents" || fail "$f missing from the desktop package"
  done
fi

root="$work/root"
dpkg-deb -x "$server_deb" "$root"
unit="$root/usr/lib/systemd/system/pdi07310-server.service"
for option in DynamicUser=yes StateDirectory=pdi07310 ProtectSystem=strict NoNewPrivileges=yes \
              "ExecStart=/usr/bin/pdi07310-server serve --config /etc/pdi07310/server.conf"; do
  grep -qx "$option" "$unit" || fail "the unit lacks $option"
done
if command -v systemd-analyze >/dev/null && [ -d /run/systemd/system ]; then
  # The unit names /usr/bin/pdi07310-server; point it at the unpacked copy for the check.
  sed "s|/usr/bin/pdi07310-server|$root/usr/bin/pdi07310-server|" "$unit" >"$work/pdi07310-server.service"
  systemd-analyze verify "$work/pdi07310-server.service" || fail "systemd-analyze verify"
else
  echo "SKIP: systemd-analyze verify (no running systemd here)"
fi

bin="$root/usr/bin/pdi07310-server"
"$bin" --version | grep -qx "pdi07310-server [0-9.]*" || fail "--version"
state="$work/state"
mkdir -p "$state"
if "$bin" serve --db "$state/server.db" --listen 127.0.0.1:0 2>"$work/refused.log"; then fail "served a missing store"; fi
grep -q "no server database at $state/server.db" "$work/refused.log" || fail "refusal message"
"$bin" init --db "$state/server.db" 2>/dev/null || fail "init"
# The packaged configuration with the scratch store and a free port.
sed -e "s|^db = .*|db = $state/server.db|" -e "s|^listen = .*|listen = 127.0.0.1:0|" \
  "$root/etc/pdi07310/server.conf" >"$work/server.conf"
"$bin" serve --config "$work/server.conf" 2>"$work/serve.log" &
server_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(grep -o 'listening on http://127\.0\.0\.1:[0-9]*' "$work/serve.log" | sed 's/.*://' || true)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/serve.log" >&2; fail "the unpacked server exited"; }
  sleep 0.1
done
[ -n "$port" ] || fail "the unpacked server did not start"
answer=$(curl -s --max-time 10 -X POST "http://127.0.0.1:$port/PDI07310.rdmProdDesoneraImpos" \
  -d '{"jsonrpc":"2.0","id":1,"method":"getDados","params":[]}')
grep -q '"ok":true' <<<"$answer" || fail "getDados: $answer"
grep -q "synchronous=FULL" "$work/serve.log" || fail "SQLite does not run with synchronous=FULL by default"
echo "packages ok"
