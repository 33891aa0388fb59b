#!/usr/bin/env bash
# Builds the Debian packages pdi07310-server and pdi07310-desktop into dist/ (CPack DEB) from a
# release build in build-package/.
#   bash scripts/package.sh        then: sudo apt install ./dist/pdi07310-server_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
command -v cmake >/dev/null && command -v dpkg-shlibdeps >/dev/null || bash scripts/setup.sh
build=${PDI_PACKAGE_BUILD:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
targets=(pdi07310-server)
if grep -q '^PDI_WITH_DESKTOP:BOOL=ON' "$build/CMakeCache.txt"; then targets+=(pdi07310-desktop PKG_PDI07310); fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
mkdir -p dist
(cd "$build" && cpack -G DEB -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
ls -1 dist/*.deb
