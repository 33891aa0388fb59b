#!/usr/bin/env bash
# Builds everything but the desktop with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or $PDI_ASAN_BUILD_DIR) and runs the tests labelled host, screen, server and e2e.
# Leaks are reported; the first undefined-behaviour report stops the test that made it. Extra
# arguments go to ctest (e.g. -R regression). Prints how long the build and the run took; exits
# non-zero when a target failed to build or a test failed. PDI_SANITIZE_STEP=build only builds,
# PDI_SANITIZE_STEP=test only runs the tests of a tree built before (scripts/test.sh builds while
# other tests run).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${PDI_ASAN_BUILD_DIR:-build-asan}
STEP=${PDI_SANITIZE_STEP:-all}
case "$STEP" in
  all | build | test) ;;
  *) echo "sanitize: PDI_SANITIZE_STEP must be build, test or all, not '$STEP'" >&2; exit 2 ;;
esac

t0=$(date +%s)
build_status=0
if [ "$STEP" != test ]; then
  # -O1 and line tables only (-g1): what AddressSanitizer needs for reasonable speed and for
  # reports with file and line, at about half the compile time of -O2 -g. The tests' own sources,
  # and the server's HTTP front and command line (Beast, Asio and CLI11, half of this tree's
  # build at -O1), at -O0 with the tests' heavy headers precompiled: a third of the time, and the
  # store, service, wire and platform code keep -O1. No benchmarks: nothing runs them.
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DPDI_SANITIZE=ON \
    -DPDI_TEST_CXX_FLAGS=-O0 -DPDI_FRONT_CXX_FLAGS=-O0 -DPDI_PCH=ON \
    -DPDI_WITH_DESKTOP=OFF -DPDI_WITH_BENCH=OFF >/dev/null
  # Keep going past a target that fails to build, so the tests of everything else still run.
  cmake --build "$BUILD_DIR" -j"$(nproc)" -- -k 0 || build_status=$?
fi
t1=$(date +%s)
if [ "$STEP" = build ]; then
  echo "sanitize: build $((t1 - t0)) s on $(nproc) cores"
  exit "$build_status"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
# fuzz/ubsan.supp silences one known report inside a third-party header (RapidJSON 1.1.0), which
# clang makes and GCC does not.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:suppressions=$ROOT/fuzz/ubsan.supp}
status=0
bash scripts/ctest-run.sh sanitize "$BUILD_DIR" -L '^(host|screen|server|e2e)$' "$@" || status=$?
t2=$(date +%s)

echo "sanitize: build $((t1 - t0)) s, tests $((t2 - t1)) s, total $((t2 - t0)) s on $(nproc) cores"
((build_status == 0)) || echo "sanitize: some targets failed to build (see above); their tests did not run"
((status == 0 && build_status == 0))
