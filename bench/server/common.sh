# Shared by the load scripts of bench/server (sourced): where the service and its database
# are, the wrk settings, a scratch folder, and starting the service on its port.
#   Sets: top build service db port connections work
#   start_service ERR_FILE SERVE_ARGS...   starts `tovik-service serve`, waits until it
#                                          listens; its pid is in $service_pid
#   warm_up SCRIPT                         two seconds of wrk, so the pages are in memory
#   reverse_throughput SERVICE DB ARGS...  prints "requests/s p99_ms" of $duration of reverse
#                                          geocoding against SERVICE serving DB
#   median                                 the median of the numbers on standard input
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$top/build}"
service="$build/server/tovik-service"
db="$build/server/places.sqlite"
port="${TOVIK_BENCH_PORT:-8613}"
connections="${TOVIK_BENCH_CONNECTIONS:-16}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

[ -x "$service" ] || { echo "no $service: build the tovik-service target first" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed (scripts/bootstrap installs it)" >&2; exit 1; }
[ -f "$db" ] || "$service" import --db "$db"

start_service() {
  local err="$1"
  shift
  "$service" serve --port "$port" "$@" 2> "$err" &
  service_pid=$!
  for _ in $(seq 100); do
    grep -q "listening on" "$err" 2>/dev/null && return 0
    sleep 0.1
  done
  cat "$err" >&2
  kill "$service_pid"
  exit 1
}

warm_up() { wrk -t2 -c"$connections" -d2s -s "$1" "http://127.0.0.1:$port" > /dev/null; }

reverse_throughput() {
  service="$1"
  local database="$2" err
  shift 2
  err="$(mktemp -p "$work")"
  start_service "$err" --db "$database" --threads 32 --access-log /dev/null "$@"
  local pid=$service_pid
  warm_up "$top/bench/server/reverse.lua"
  wrk -t2 -c"$connections" -d"$duration" --latency -s "$top/bench/server/reverse.lua" "http://127.0.0.1:$port" > "$work/wrk"
  kill -TERM "$pid"
  wait "$pid" || true
  awk '/Requests\/sec:/ { rps = $2 }
       $1 == "99%" { v = $2; unit = v; sub(/[0-9.]+/, "", unit); sub(/[a-z]+$/, "", v);
                     p99 = unit == "us" ? v / 1000 : unit == "s" ? v * 1000 : v }
       /Non-2xx|Socket errors/ { bad = bad " " $0 }
       END { printf "%.0f %.3f%s\n", rps, p99, bad }' "$work/wrk"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
