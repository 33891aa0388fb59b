#!/usr/bin/env bash
# Builds the libFuzzer targets of the platform's readers with clang (build-fuzz/, or
# $PDI_FUZZ_BUILD_DIR) and runs each for N seconds (default 60):
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: data_packet json_rpc change_packet edit_mask filter
#                                               http_request answer_decoder
#
# Each target starts from its seeds in fuzz/corpus/<target> and keeps growing its own working
# corpus in <build>/corpus/<target>, so a second run continues where the first stopped. An input
# that crashes, hangs (over 10 s), leaks or breaks a reader's promise is written to
# <build>/artifacts/<target>/; fix the reader, then copy the input into
# tests/regressions/inputs/<target>/ so that regression_tests replays it in every test run.
# Needs clang and its runtime libraries (Debian: clang libclang-rt-14-dev).
# Exits 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_EACH=${1:-60}
shift || true
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=(data_packet json_rpc change_packet edit_mask filter http_request answer_decoder)
BUILD_DIR=${PDI_FUZZ_BUILD_DIR:-build-fuzz}

command -v clang++ >/dev/null || { echo "fuzz: clang++ not found (apt-get install clang libclang-rt-14-dev)" >&2; exit 2; }
cmake -S fuzz -B "$BUILD_DIR" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target $(printf '%s_fuzzer ' "${TARGETS[@]}")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:suppressions=$ROOT/fuzz/ubsan.supp}

found=0
summary=()
for t in "${TARGETS[@]}"; do
  corpus=$BUILD_DIR/corpus/$t
  artifacts=$BUILD_DIR/artifacts/$t
  mkdir -p "$corpus" "$artifacts"
  dict=()
  [[ $t == edit_mask || $t == filter || $t == http_request ]] || dict=(-dict="$ROOT/fuzz/json.dict")
  [[ $t != http_request ]] || dict=(-dict="$ROOT/fuzz/http.dict")
  log=$BUILD_DIR/$t.log
  echo "fuzz: $t for ${SECONDS_EACH}s (log $log)"
  status=0
  "$BUILD_DIR/${t}_fuzzer" "$corpus" "$ROOT/fuzz/corpus/$t" "${dict[@]}" \
    -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  if ((status != 0)); then
    found=1
    summary+=("$t: FOUND something (exit $status) after ${runs:-?} runs; see $log and $artifacts")
  else
    summary+=("$t: ${runs:-?} runs in ${SECONDS_EACH}s, $cov, corpus $(ls "$corpus" | wc -l) inputs, nothing found")
  fi
done
printf '%s\n' "${summary[@]}"
exit $found
