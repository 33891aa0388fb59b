#!/usr/bin/env bash
# Fetches the released archives that the browser build compiles (web/sources.lock) into
# $PDI_WEB_SOURCES (default ~/.cache/pdi07310/web-sources), by name and version through the
# registries we use: npm (`npm pack`) and Debian's source packages (`apt-get source
# --download-only`, with a private list of Debian's source index so the machine's own apt
# configuration is left alone). Each archive is checked against its SHA-256 in the lock file;
# one that does not match is removed and the script fails. Archives already present and matching
# are not fetched again. scripts/setup.sh runs this.
set -euo pipefail
cd "$(dirname "$0")"
DEST=${PDI_WEB_SOURCES:-$HOME/.cache/pdi07310/web-sources}
mkdir -p "$DEST"

check() {  # ARCHIVE SHA256 -> 0 when the archive is there and matches
  [ -f "$DEST/$1" ] && echo "$2  $DEST/$1" | sha256sum --check --status
}

apt_ready=0
apt_source() {  # PACKAGE VERSION: downloads the source package into $DEST
  local state="$DEST/.apt"
  if [ "$apt_ready" = 0 ]; then
    mkdir -p "$state/lists/partial"
    # The release we build on, from Debian's own archive.
    local suite
    suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
    echo "deb-src http://deb.debian.org/debian ${suite:-bookworm} main" >"$state/sources.list"
    APT=(-o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=/dev/null
         -o "Dir::State::Lists=$state/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
    apt-get "${APT[@]}" update -qq
    apt_ready=1
  fi
  (cd "$DEST" && apt-get "${APT[@]}" source --download-only -qq "$1=$2")
}

status=0
while read -r name registry package version archive sha; do
  case "$name" in ''|'#'*) continue ;; esac
  check "$archive" "$sha" && continue
  echo "web/sources: fetching $package $version ($registry)"
  case "$registry" in
    npm) (cd "$DEST" && npm pack --silent "$package@$version" >/dev/null) ;;
    debian) apt_source "$package" "$version" ;;
    *) echo "web/sources: unknown registry $registry" >&2; exit 2 ;;
  esac
  if ! check "$archive" "$sha"; then
    echo "web/sources: $archive does not match its SHA-256 in web/sources.lock; removed" >&2
    rm -f "$DEST/$archive"
    status=1
  fi
done <sources.lock
exit $status
