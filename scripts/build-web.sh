#!/usr/bin/env bash
# Builds the browser client with Debian's emscripten into $PDI_BUILD_DIR/web (default build/web):
# the platform and the screen compiled to WebAssembly once (-O2, no debug information), and the
# page's files under content-hashed names in build/web/dist, which pdi07310-server serves under "/".
# The released sources it compiles must have been fetched (web/sources.sh; scripts/setup.sh runs
# it). With CI=true warnings in our code are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PDI_BUILD_DIR:-build}
WERROR=()
[ "${CI:-}" = "true" ] && WERROR=(-DPDI_WERROR=ON)
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
emcmake cmake -S web -B "$BUILD_DIR/web" -G Ninja "${WERROR[@]}" "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR/web" -j"$(nproc)"
