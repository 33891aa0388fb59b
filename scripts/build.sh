#!/usr/bin/env bash
# Configures and builds into build/ (or $PDI_BUILD_DIR): everything, or only the targets named in
# $PDI_BUILD_TARGETS (blank-separated). With CI=true warnings are errors (-DPDI_WERROR=ON).
# Extra arguments go to CMake's configure step. The tests' own sources are compiled at -O0 with
# their heavy headers precompiled, a third of the time; the code they test keeps the build type's
# optimisation.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PDI_BUILD_DIR:-build}
WERROR=()
[ "${CI:-}" = "true" ] && WERROR=(-DPDI_WERROR=ON)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${PDI_BUILD_TYPE:-RelWithDebInfo} \
  -DPDI_TEST_CXX_FLAGS=-O0 -DPDI_PCH=ON "${WERROR[@]}" "$@" >/dev/null
TARGETS=()
for t in ${PDI_BUILD_TARGETS:-}; do TARGETS+=(--target "$t"); done
cmake --build "$BUILD_DIR" -j"$(nproc)" "${TARGETS[@]}"
