#!/usr/bin/env bash
# Configures and builds into build/ (or $PDI_BUILD_DIR): everything, or only the targets named in
# $PDI_BUILD_TARGETS (blank-separated). With CI=true warnings are errors (-DPDI_WERROR=ON).
# Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PDI_BUILD_DIR:-build}
WERROR=()
[ "${CI:-}" = "true" ] && WERROR=(-DPDI_WERROR=ON)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${PDI_BUILD_TYPE:-RelWithDebInfo} "${WERROR[@]}" "$@" >/dev/null
TARGETS=()
for t in ${PDI_BUILD_TARGETS:-}; do TARGETS+=(--target "$t"); done
cmake --build "$BUILD_DIR" -j"$(nproc)" "${TARGETS[@]}"
