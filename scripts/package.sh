#!/usr/bin/env bash
# Builds the Debian packages pdi07310-server, pdi07310-screen, pdi07310-desktop and pdi07310-tools,
# each with its -dbgsym package (the debug information), from a release build, with debhelper
# (packaging/debian). It writes only under the build folder: the build in PDI_BUILD_DIR (default
# build/, as scripts/build.sh; a relative path is taken from the checkout), the packages in
# PDI_DIST_DIR (default PDI_BUILD_DIR/dist).
#   bash scripts/package.sh        then: sudo apt install ./build/dist/pdi07310-server_*.deb
#   PDI_PACKAGE_NO_BUILD=1         packs the build as it stands (the package test does)
# Without a desktop in the build (-DPDI_WITH_DESKTOP=OFF) pdi07310-desktop is left out.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
command -v dpkg-buildpackage >/dev/null && command -v dh >/dev/null && command -v cmake >/dev/null ||
  bash scripts/setup.sh
build=$(realpath -m "${PDI_BUILD_DIR:-${PDI_PACKAGE_BUILD:-build}}")
dist=$(realpath -m "${PDI_DIST_DIR:-$build/dist}")

if [ "${PDI_PACKAGE_NO_BUILD:-0}" != 1 ]; then
  PDI_BUILD_DIR=$build PDI_BUILD_TARGETS="pdi07310-server pdi07310-scenario PKG_PDI07310" bash scripts/build.sh
  if grep -q '^PDI_WITH_DESKTOP:BOOL=ON' "$build/CMakeCache.txt"; then
    cmake --build "$build" -j"$(nproc)" --target pdi07310-desktop
  fi
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package: no configured build in $build" >&2; exit 1; }
profiles=""
[ -f "$build/desktop/pdi07310-desktop" ] || profiles=nodesktop

# A scratch source tree: the debian folder, the unit, and a changelog naming this release.
work="$dist/.work"
tree="$work/pdi07310-$version"
rm -rf "$work"
mkdir -p "$tree"
cp -r packaging/debian "$tree/debian"
cp packaging/pdi07310-server.service "$tree/debian/pdi07310-server.service"
when=$(git -C "$src" log -1 --format=%cD 2>/dev/null || date -R)
cat >"$tree/debian/changelog" <<EOF
pdi07310 ($version) unstable; urgency=medium

  * Release $version.

 -- PDI07310 team <pdi07310@example.com>  $when
EOF
if ! (cd "$tree" && PDI_BUILD_DIR=$build DEB_BUILD_PROFILES=$profiles \
  dpkg-buildpackage -b -uc -us -nc -d >"$work/dpkg-buildpackage.log" 2>&1); then
  cat "$work/dpkg-buildpackage.log" >&2
  echo "package: dpkg-buildpackage failed (log above)" >&2
  exit 1
fi
rm -f "$dist"/pdi07310*_"$version"_*
mv "$work"/pdi07310*_"$version"_* "$dist"/
rm -rf "$work"
ls -1 "$dist"/*.deb
