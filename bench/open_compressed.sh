#!/usr/bin/env bash
# Compressed answers at a distance and on loopback: the bytes of getDados on the wire, and the
# scenario runner's whole `open` on loopback and through a throttling relay (a branch office's
# link, bench/throttle_relay.py), for an old build (which asks for plain answers) and a new one
# (asking for compressed answers, and, with --no-compression, for plain ones), in one run against
# one server, the new build's.
#
#   bench/open_compressed.sh [--products N] [--rows-per-product M] [--runs R] [--mbit RATE] OLD_BUILD NEW_BUILD
#
# Rounds interleave every measurement, so a change in the machine's load falls on all alike.
# Prints medians: curl's plain and zstd reads of getDados (time, bytes), each runner's open on
# loopback, and through the link; then the figures of the goals: compressed bytes / plain bytes,
# the new runner's open through the link over (compressed bytes / link rate + curl's zstd read on
# loopback), and its loopback open compressed over plain.
set -euo pipefail

products=100000
rows=10
runs=3
mbit=50
builds=()
while (($#)); do
  case "$1" in
    --products) products="$2"; shift 2 ;;
    --rows-per-product) rows="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --mbit) mbit="$2"; shift 2 ;;
    *) builds+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
((${#builds[@]} == 2)) || { echo "usage: $0 [--products N] [--rows-per-product M] [--runs R] [--mbit RATE] OLD NEW" >&2; exit 2; }
old=${builds[0]}
new=${builds[1]}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/demo_server.sh"
bench_dir=$(mktemp -d /tmp/open_compressed.XXXXXX)
dir=$bench_dir
relay_pid=
bench_cleanup_add '[[ -n "$relay_pid" ]] && kill "$relay_pid" && wait "$relay_pid"'
echo "link $mbit Mbit/s"
serve_demo "$new/server/pdi07310-server" "$products" "$rows"
python3 "$here/throttle_relay.py" "127.0.0.1:$port" --mbit "$mbit" >"$dir/relay.log" 2>&1 &
relay_pid=$!
for _ in $(seq 100); do grep -q listening "$dir/relay.log" 2>/dev/null && break; sleep 0.1; done
relay_port=$(sed -n 's/.*127.0.0.1:\([0-9]*\).*/\1/p' "$dir/relay.log")

declare -A times
bytes=()
# name, build, server port, runner options
runner() {
  local name=$1 build=$2 at=$3
  shift 3
  local start end
  start=$(date +%s.%N)
  "$build/scenario/pdi07310-scenario" --server "127.0.0.1:$at" --local "$dir/local.db" \
    --module "$build/module/libPKG_PDI07310.so" "$@" "$dir/open.scn" >"$dir/run.log" 2>&1 ||
    { echo "runner $name failed:"; tail -5 "$dir/run.log"; exit 1; }
  end=$(date +%s.%N)
  times[$name]+="$(echo "$end - $start" | bc -l) "
}
for _ in $(seq "$runs"); do
  for coding in identity zstd; do
    out=$(curl -s -o /dev/null -w '%{time_total} %{size_download}' -X POST -H 'Content-Type: application/json' \
      -H "Accept-Encoding: $coding" -d "$getdados_request" "$url")
    times[curl-$coding]+="${out% *} "
    bytes[${#bytes[@]}]="$coding ${out#* }"
  done
  runner old-loopback "$old" "$port"
  runner new-plain-loopback "$new" "$port" --no-compression
  runner new-loopback "$new" "$port"
  runner old-link "$old" "$relay_port"
  runner new-link "$new" "$relay_port"
done
plain_bytes=$(printf '%s\n' "${bytes[@]}" | awk '$1=="identity"{print $2; exit}')
zstd_bytes=$(printf '%s\n' "${bytes[@]}" | awk '$1=="zstd"{print $2; exit}')
declare -A m
for k in "${!times[@]}"; do m[$k]=$(printf '%s\n' ${times[$k]} | median); done
printf 'getDados on the wire: plain %.1f MB, zstd %.1f MB = %.3f of plain\n' "$(echo "$plain_bytes / 1000000" | bc -l)" \
  "$(echo "$zstd_bytes / 1000000" | bc -l)" "$(echo "$zstd_bytes / $plain_bytes" | bc -l)"
printf 'curl read on loopback: plain %.2f s, zstd %.2f s\n' "${m[curl-identity]}" "${m[curl-zstd]}"
for k in old-loopback new-plain-loopback new-loopback old-link new-link; do printf '%-20s open %.2f s\n' "$k" "${m[$k]}"; done
rate=$(echo "$mbit * 1000000 / 8" | bc -l)
ideal=$(echo "$zstd_bytes / $rate + ${m[curl-zstd]}" | bc -l)
printf 'through the link: new %.2f s over (zstd bytes / rate + curl zstd read = %.2f s) = %.2fx; old %.2f s (plain bytes / rate = %.2f s)\n' \
  "${m[new-link]}" "$ideal" "$(echo "${m[new-link]} / $ideal" | bc -l)" "${m[old-link]}" "$(echo "$plain_bytes / $rate" | bc -l)"
printf 'loopback: new compressed / new plain = %.2fx; new compressed / old = %.2fx\n' \
  "$(echo "${m[new-loopback]} / ${m[new-plain-loopback]}" | bc -l)" "$(echo "${m[new-loopback]} / ${m[old-loopback]}" | bc -l)"
