#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test with CTest.
# Tests that need a server start it themselves on loopback and stop it afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
BUILD_DIR=${PDI_BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
