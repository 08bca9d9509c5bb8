#!/usr/bin/env bash
# What the Prometheus figures cost: reverse geocoding under wrk with metrics on and with
# --no-metrics, alternated over a few rounds in one run (the order flips every round, so a
# drift in the machine's load falls on both sides).
#   bench/server/metrics.sh [BUILD_DIR] [ROUNDS]     (defaults: build, 3)
set -euo pipefail

. "$(dirname "$0")/common.sh"
rounds="${2:-3}"
duration="${TOVIK_BENCH_DURATION:-5s}"

# Prints "requests/s p99_ms" for one run.
run_one() {
  local extra="$1" err
  err="$(mktemp -p "$work")"
  # shellcheck disable=SC2086
  start_service "$err" --db "$db" --threads 32 --access-log /dev/null $extra
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

echo "round mode requests/s p99_ms"
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order="on off"; else order="off on"; fi
  for mode in $order; do
    if [ "$mode" = on ]; then extra=""; else extra="--no-metrics"; fi
    echo "$round $mode $(run_one "$extra")"
  done
done | tee "$work/table"

# Medians over the rounds: a parallel build on the shared machine spoils single runs.
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
on_rps=$(awk '$2 == "on" { print $3 }' "$work/table" | median)
off_rps=$(awk '$2 == "off" { print $3 }' "$work/table" | median)
on_p99=$(awk '$2 == "on" { print $4 }' "$work/table" | median)
off_p99=$(awk '$2 == "off" { print $4 }' "$work/table" | median)
awk -v a="$on_rps" -v b="$off_rps" -v c="$on_p99" -v d="$off_p99" 'BEGIN {
  printf "medians: metrics on %.0f req/s, p99 %.3f ms; off %.0f req/s, p99 %.3f ms; on/off throughput %.3f, p99 %.3f\n",
         a, c, b, d, a / b, c / d }'
