#!/usr/bin/env bash
# Wake-ups of a continuous session: `tovik locate --continuous --interval 1` replaying a
# recorded walk in real time, each fix sent to tovik-service on loopback. Counts the
# voluntary context switches of every thread of the tovik process (each one is a sleep
# that ended) over a steady window, and prints them per second. Then, against the same
# service, tovik_bench_loop (when built): the same session and idle facades in a host's own
# loop asleep on the main queue's descriptor, and the latency of posted work there.
#   bench/locate_wakeups.sh [BUILD_DIR]        (default: build)
# Imports the GeoNames places first if the build has no database.
set -euo pipefail

top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
service="$build/server/tovik-service"
tovik="$build/tools/tovik/tovik"
db="$build/server/places.sqlite"
port="${TOVIK_BENCH_PORT:-8614}"
window="${TOVIK_BENCH_WINDOW:-20}"
work="$(mktemp -d)"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

for program in "$service" "$tovik"; do
  [ -x "$program" ] || { echo "no $program: build the tovik-service and tovik_cli targets first" >&2; exit 1; }
done
[ -f "$db" ] || "$service" import --db "$db"

"$service" serve --db "$db" --port "$port" --access-log /dev/null 2> "$work/service.err" &
pids+=($!)
for _ in $(seq 100); do
  grep -q "listening on" "$work/service.err" 2>/dev/null && break
  sleep 0.1
done

# Sum of voluntary context switches over the threads of process $1.
switches() {
  local total=0 n
  for status in /proc/"$1"/task/*/status; do
    n=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$status" 2>/dev/null || echo 0)
    total=$((total + ${n:-0}))
  done
  echo "$total"
}

"$tovik" locate --service "http://127.0.0.1:$port" --agree --key bench --continuous --interval 1 \
  --count $((window + 10)) --source "nmea:$top/data/beijing_walk.nmea" > "$work/results.txt" 2> "$work/tovik.err" &
tovik_pid=$!
pids+=("$tovik_pid")
sleep 5  # past start-up: the first fix, the connection, the timer running
before=$(switches "$tovik_pid")
results_before=$(wc -l < "$work/results.txt")
sleep "$window"
after=$(switches "$tovik_pid")
results_after=$(wc -l < "$work/results.txt")
threads=$(ls /proc/"$tovik_pid"/task | wc -l)

awk -v b="$before" -v a="$after" -v w="$window" -v r=$((results_after - results_before)) -v t="$threads" 'BEGIN {
  printf "continuous locate, interval 1 s: %d wake-ups in %d s over %d threads = %.1f per second (%d results)\n",
         a - b, w, t, (a - b) / w, r
}'

loop_bench="$build/bench/tovik_bench_loop"
if [ -x "$loop_bench" ]; then
  kill "$tovik_pid" 2>/dev/null || true
  "$loop_bench" --service "http://127.0.0.1:$port" --track "$top/data/beijing_walk.nmea" --window "$window"
fi
