#!/usr/bin/env bash
# The Debian packages, made by scripts/package.sh from this build's binaries into a scratch
# folder: their contents (binaries stripped, debug information in -dbgsym packages, the programs
# on PATH, copyright), their computed Depends, the server unit's maintainer scripts run against a
# fake deb-systemd-helper, lintian, the unit (systemd-analyze verify), and the programs run from
# the files unpacked into a scratch root: the server on its packaged configuration file, the
# runner and the desktop.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/pdi-package-test.XXXXXX)
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

PDI_PACKAGE_NO_BUILD=1 PDI_BUILD_DIR=$build PDI_DIST_DIR=$work/dist bash "$src/scripts/package.sh" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log" >&2; fail "scripts/package.sh"; }
deb() { ls "$work"/dist/"$1"_*.deb 2>/dev/null; }
server_deb=$(deb pdi07310-server)
screen_deb=$(deb pdi07310-screen)
tools_deb=$(deb pdi07310-tools)
desktop_deb=$(deb pdi07310-desktop || true)
version=$(dpkg-deb -f "$server_deb" Version)

# ---- Contents ----------------------------------------------------------------------------------
has() {  # has PACKAGE FILE...: every FILE is in PACKAGE
  local package=$1 contents
  shift
  contents=$(dpkg-deb -c "$package" | awk '{print $6}')
  for f in "$@"; do grep -qx "$f" <<<"$contents" || fail "$f missing from $(basename "$package")"; done
}
has "$server_deb" ./usr/bin/pdi07310-server ./lib/systemd/system/pdi07310-server.service ./etc/pdi07310/server.conf \
  ./usr/share/doc/pdi07310-server/copyright ./usr/share/doc/pdi07310-server/deploy.md.gz
has "$screen_deb" ./usr/lib/pdi07310/libPKG_PDI07310.so ./usr/lib/pdi07310/libpdi_host.so
has "$tools_deb" ./usr/bin/pdi07310-scenario ./usr/lib/pdi07310/pdi07310-scenario ./usr/share/doc/pdi07310-tools/copyright
dpkg-deb -I "$server_deb" conffiles | grep -qx /etc/pdi07310/server.conf || fail "server.conf is not a conffile"
if [ -n "$desktop_deb" ]; then
  has "$desktop_deb" ./usr/bin/pdi07310-desktop ./usr/lib/pdi07310/pdi07310-desktop \
    ./usr/share/applications/pdi07310-desktop.desktop ./usr/share/icons/hicolor/scalable/apps/pdi07310.svg
fi
for package in pdi07310-server pdi07310-screen pdi07310-tools ${desktop_deb:+pdi07310-desktop}; do
  ls "$work"/dist/"$package"-dbgsym_*.deb >/dev/null 2>&1 || fail "no $package-dbgsym package"
done

# ---- Depends: computed from the libraries, the desktop's extras kept ---------------------------
depends() { dpkg-deb -f "$1" Depends; }
for lib in libc6 libstdc++6 libsqlite3-0 libpq5 libssl3; do
  grep -q "\b$lib\b" <<<"$(depends "$server_deb")" || fail "pdi07310-server does not depend on $lib: $(depends "$server_deb")"
done
# The spreadsheet export's library comes with the screen package, which the desktop needs.
grep -q "\blibxlsxwriter4\b" <<<"$(depends "$screen_deb")" || fail "screen Depends: $(depends "$screen_deb")"
grep -q "pdi07310-screen (= $version)" <<<"$(depends "$tools_deb")" || fail "tools Depends: $(depends "$tools_deb")"
if [ -n "$desktop_deb" ]; then
  for need in libqt6widgets6 qt6-translations-l10n "pdi07310-screen (= $version)"; do
    grep -qF "$need" <<<"$(depends "$desktop_deb")" || fail "pdi07310-desktop does not depend on $need: $(depends "$desktop_deb")"
  done
fi

# ---- Unpacked into a scratch root: stripped binaries, programs on PATH -------------------------
root="$work/root"
for package in "$server_deb" "$screen_deb" "$tools_deb" $desktop_deb; do dpkg-deb -x "$package" "$root"; done
for binary in usr/bin/pdi07310-server usr/lib/pdi07310/libpdi_host.so usr/lib/pdi07310/pdi07310-scenario; do
  if readelf -S "$root/$binary" | grep -q '\.debug_info'; then fail "$binary is not stripped"; fi
done
[ "$(readlink -f "$root/usr/bin/pdi07310-scenario")" = "$root/usr/lib/pdi07310/pdi07310-scenario" ] ||
  fail "/usr/bin/pdi07310-scenario does not lead to the runner"
"$root/usr/bin/pdi07310-scenario" --version | grep -qx "pdi07310-scenario $version" || fail "runner --version"
# The runner finds the module beside it through the /usr/bin link.
printf 'load\nexpect module.boIdCriado false\n' >"$work/load.scn"
"$root/usr/bin/pdi07310-scenario" "$work/load.scn" >"$work/load.log" 2>&1 || { cat "$work/load.log" >&2; fail "the runner did not load the module"; }
if [ -n "$desktop_deb" ]; then
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/pdi07310-desktop" --version | grep -qx "pdi07310-desktop $version" ||
    fail "desktop --version"
fi

# ---- Maintainer scripts of the unit, against a fake deb-systemd-helper -------------------------
# The scripts act only where systemd runs (/run/systemd/system): here that test points at a
# scratch folder, and the helpers on PATH log their arguments.
control="$work/control"
dpkg-deb -e "$server_deb" "$control"
fake="$work/fake"
mkdir -p "$fake/bin" "$fake/run/systemd/system"
for tool in deb-systemd-helper deb-systemd-invoke systemctl; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\nexit 0\n' "$tool" "$fake" >"$fake/bin/$tool"
  chmod +x "$fake/bin/$tool"
done
run_script() {  # run_script SCRIPT ARGS...: runs it, then prints and forgets the calls it made
  local script="$fake/$1"
  shift
  sed -e "s|/run/systemd/system|$fake/run/systemd/system|g" -e "s|/usr/bin/deb-systemd-helper|$fake/bin/deb-systemd-helper|g" \
    "$control/$(basename "$script")" >"$script"
  PATH="$fake/bin:$PATH" DPKG_MAINTSCRIPT_PACKAGE=pdi07310-server sh "$script" "$@" >/dev/null ||
    fail "$(basename "$script") $* failed"
  cat "$fake/calls" 2>/dev/null || true
  rm -f "$fake/calls"
}
install=$(run_script postinst configure "")
grep -q "deb-systemd-helper enable pdi07310-server.service" <<<"$install" || fail "install does not enable the unit: $install"
if grep -q "deb-systemd-invoke" <<<"$install"; then fail "install starts the unit before a store exists: $install"; fi
upgrade=$(run_script postinst configure 6.0.0)
grep -q "deb-systemd-invoke try-restart pdi07310-server.service" <<<"$upgrade" || fail "upgrade does not restart the server: $upgrade"
removal=$(run_script prerm remove)
grep -q "deb-systemd-invoke stop pdi07310-server.service" <<<"$removal" || fail "removal does not stop the server: $removal"
purge=$(run_script postrm purge)
grep -q "deb-systemd-helper purge pdi07310-server.service" <<<"$purge" || fail "purge does not forget the unit: $purge"

# ---- lintian: clean, every override explained in packaging/debian ------------------------------
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$work"/dist/*.changes >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian"; }
else
  fail "lintian is not installed (scripts/setup.sh installs it)"
fi

# ---- The unit ----------------------------------------------------------------------------------
unit="$root/lib/systemd/system/pdi07310-server.service"
for option in DynamicUser=yes StateDirectory=pdi07310 ProtectSystem=strict NoNewPrivileges=yes \
  "ExecStart=/usr/bin/pdi07310-server serve --config /etc/pdi07310/server.conf" \
  'ExecReload=/bin/kill -HUP $MAINPID' LoadCredential=tokens:pdi07310.tokens \
  LoadCredential=tls.key:pdi07310.tls.key LoadCredential=tls.crt:pdi07310.tls.crt; do
  grep -qxF "$option" "$unit" || fail "the unit lacks $option"
done
if command -v systemd-analyze >/dev/null; then
  # The unit names /usr/bin/pdi07310-server; point it at the unpacked copy for the check.
  sed "s|/usr/bin/pdi07310-server|$root/usr/bin/pdi07310-server|" "$unit" >"$work/pdi07310-server.service"
  verdict=$(systemd-analyze verify "$work/pdi07310-server.service" 2>&1) || fail "systemd-analyze verify: $verdict"
  [ -z "$verdict" ] || fail "systemd-analyze verify: $verdict"
else
  echo "SKIP: systemd-analyze verify (systemd-analyze is not installed)"
fi

# ---- The server from the unpacked files --------------------------------------------------------
bin="$root/usr/bin/pdi07310-server"
"$bin" --version | grep -qx "pdi07310-server $version" || fail "--version"
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
