#!/usr/bin/env bash
# Every configuration docs/deploy.md gives an administrator is checked by the program that reads it:
#   ```haproxy blocks          haproxy -c (a warning fails too)
#   the packaged unit          systemd-analyze verify, with each ```systemd block of the note added
#                              as a drop-in
#   packaging/server.conf and  pdi07310-server serve --check-config
#   each ```conf block
#   deploy_doc_test.sh SERVER_BINARY
set -euo pipefail
server=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
doc="$src/docs/deploy.md"
work=$(mktemp -d /tmp/pdi-deploy-doc.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
haproxy=$(command -v haproxy || echo /usr/sbin/haproxy)
[ -x "$haproxy" ] || fail "haproxy is not installed (scripts/setup.sh installs it)"

# Writes the fenced blocks of the given language to $work/LANG.N, one file each; prints how many.
blocks() {
  awk -v lang="$1" -v out="$work/$1" '
    $0 == "```" lang { n++; on = 1; next }
    /^```/ { on = 0; next }
    on { print > (out "." n) }
    END { print n + 0 }' "$doc"
}

n=$(blocks haproxy)
[ "$n" -gt 0 ] || fail "docs/deploy.md has no haproxy block"
for cfg in "$work"/haproxy.*; do
  verdict=$("$haproxy" -c -f "$cfg" 2>&1) || fail "haproxy -c on $(basename "$cfg"): $verdict"
  if grep -q 'WARNING\|ALERT' <<<"$verdict"; then fail "haproxy -c on $(basename "$cfg"): $verdict"; fi
done

if command -v systemd-analyze >/dev/null; then
  unit="$work/pdi07310-server.service"
  sed "s|/usr/bin/pdi07310-server|$(realpath "$server")|" "$src/packaging/pdi07310-server.service" >"$unit"
  blocks systemd >/dev/null
  for dropin in "$work"/systemd.*; do [ -e "$dropin" ] && cat "$dropin" >>"$unit"; done
  verdict=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $verdict"
  [ -z "$verdict" ] || fail "systemd-analyze verify: $verdict"
else
  echo "SKIP: systemd-analyze is not installed"
fi

blocks conf >/dev/null
if "$server" serve --help 2>&1 | grep -q -- '--check-config'; then
  # The store the files name (/var/lib/pdi07310/server.db) exists only where the package is
  # installed, which the package test does and undoes beside this one: a store of our own stands
  # in for it.
  "$server" init --db "$work/server.db" >/dev/null 2>&1 || fail "init of a throwaway store failed"
  for conf in "$src/packaging/server.conf" "$work"/conf.*; do
    [ -e "$conf" ] || continue
    verdict=$("$server" serve --check-config --config "$conf" --db "$work/server.db" 2>&1) ||
      fail "serve --check-config $(basename "$conf"): $verdict"
  done
else
  echo "SKIP: this server has no serve --check-config; the configuration files are not checked"
fi
echo "deploy.md configurations ok"
