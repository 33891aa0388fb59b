# What the open benches share (sourced, not run): a temporary folder removed on exit, demo data
# written and served by one build's server on a free loopback port, the getDados request, the
# runner's open script and a median.
#
#   source bench/demo_server.sh
#   bench_dir=$(mktemp -d /tmp/NAME.XXXXXX); bench_cleanup_add 'kill $relay_pid'   # optional
#   serve_demo SERVER_BINARY PRODUCTS ROWS   # sets port, url, server_pid; writes $bench_dir/local.db
#   ... | median

bench_cleanups=()
bench_cleanup_add() { bench_cleanups+=("$1"); }
bench_cleanup() {
  local c
  for c in "${bench_cleanups[@]}"; do eval "$c" 2>/dev/null || true; done
  [[ -n "${server_pid:-}" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [[ -n "${bench_dir:-}" ]] && rm -rf "$bench_dir"
}
trap bench_cleanup EXIT

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

getdados_request='{"jsonrpc":"2.0","id":1,"method":"getDados","params":[]}'

serve_demo() {
  local binary=$1 products=$2 rows=$3
  echo "demo data: $products products x $rows rows per product"
  "$binary" demo --db "$bench_dir/server.db" --local "$bench_dir/local.db" --products "$products" \
    --rows-per-product "$rows" >/dev/null
  port=$((20000 + RANDOM % 20000))
  "$binary" serve --db "$bench_dir/server.db" --listen "127.0.0.1:$port" >"$bench_dir/server.log" 2>&1 &
  server_pid=$!
  url="http://127.0.0.1:$port/PDI07310.rdmProdDesoneraImpos"
  for _ in $(seq 100); do curl -s -o /dev/null "$url" && break; sleep 0.1; done
  printf 'open\nclose\n' >"$bench_dir/open.scn"
}
