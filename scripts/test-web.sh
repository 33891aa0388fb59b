#!/usr/bin/env bash
# The browser client's tests: builds the client (scripts/build-web.sh) and runs the browser tests
# (web/tests, node's test runner): Debian's headless Chromium, driven by puppeteer-core, against a
# real pdi07310-server on loopback (built here when missing). scripts/test.sh runs this after
# CTest; PDI_WEB_SHOTS=FOLDER keeps the tests' screenshots there.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PDI_BUILD_DIR:-build}
start=$(date +%s)
bash scripts/build-web.sh
[ -x "$BUILD_DIR/server/pdi07310-server" ] || PDI_BUILD_TARGETS=pdi07310-server bash scripts/build.sh
built=$(date +%s)
(cd web && node --test tests/)
echo "test-web: client built in $((built - start)) s, browser tests in $(($(date +%s) - built)) s"
