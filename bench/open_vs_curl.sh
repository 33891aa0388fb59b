#!/usr/bin/env bash
# The scenario runner's whole `open` (process start, module, connect, getDados, load, filter) over a
# bare `curl` of the same getDados answer to /dev/null, and the runner's peak memory over the
# answer's size, for one or more builds in one run against one server (so "before" and "after"
# share the machine's noise).
#
#   bench/open_vs_curl.sh [--products N] [--rows-per-product M] [--runs R] BUILD_DIR...
#
# The first build's server writes the demo data (in a temporary folder, removed at the end) and
# serves it. Prints, per build, the median wall time of the open, its ratio to curl's median, the
# runner's median CPU time (user + system: on a shared machine, the part of the open the runner
# itself costs), and the median peak RSS with its ratio to the answer's size.
set -euo pipefail

products=100000
rows=10
runs=5
builds=()
while (($#)); do
  case "$1" in
    --products) products="$2"; shift 2 ;;
    --rows-per-product) rows="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    *) builds+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
((${#builds[@]})) || { echo "usage: $0 [--products N] [--rows-per-product M] [--runs R] BUILD_DIR..." >&2; exit 2; }

source "$(dirname "$0")/demo_server.sh"
bench_dir=$(mktemp -d /tmp/open_vs_curl.XXXXXX)
dir=$bench_dir
serve_demo "${builds[0]}/server/pdi07310-server" "$products" "$rows"

# Rounds interleave curl and every build, so that a change in the machine's load while the bench
# runs falls on all of them alike.
curl_times=()
declare -A times rss cpus
for _ in $(seq "$runs"); do
  out=$(curl -s -o /dev/null -w '%{time_total} %{size_download}' -X POST -H 'Content-Type: application/json' \
    -d "$getdados_request" "$url")
  curl_times+=("${out% *}")
  bytes="${out#* }"
  for b in "${!builds[@]}"; do
    build=${builds[$b]}
    /usr/bin/time -f '%e %M %U %S' -o "$dir/time" "$build/scenario/pdi07310-scenario" --server "127.0.0.1:$port" \
      --local "$dir/local.db" --module "$build/module/libPKG_PDI07310.so" "$dir/open.scn" >"$dir/run.log" 2>&1 ||
      { echo "runner of $build failed:"; tail -5 "$dir/run.log"; exit 1; }
    read -r t kb user sys <"$dir/time"
    times[$b]+="$t "
    rss[$b]+="$kb "
    cpus[$b]+="$(echo "$user + $sys" | bc -l) "
  done
done
curl_median=$(printf '%s\n' "${curl_times[@]}" | median)
printf 'curl getDados to /dev/null: median %.3f s, %.1f MB\n' "$curl_median" "$(echo "$bytes / 1000000" | bc -l)"
for b in "${!builds[@]}"; do
  t=$(printf '%s\n' ${times[$b]} | median)
  kb=$(printf '%s\n' ${rss[$b]} | median)
  cpu=$(printf '%s\n' ${cpus[$b]} | median)
  printf '%s: open %.2f s = %.2fx curl; runner CPU %.2f s; peak RSS %.0f MB = %.2fx the answer\n' "${builds[$b]}" \
    "$t" "$(echo "$t / $curl_median" | bc -l)" "$cpu" "$(echo "$kb / 1024" | bc -l)" "$(echo "$kb * 1024 / $bytes" | bc -l)"
done
