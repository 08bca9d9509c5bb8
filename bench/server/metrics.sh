#!/usr/bin/env bash
# What the Prometheus figures cost: reverse geocoding under wrk with metrics on and with
# --no-metrics, alternated over a few rounds in one run (the order flips every round, so a
# drift in the machine's load falls on both sides).
#   bench/server/metrics.sh [BUILD_DIR] [ROUNDS]     (defaults: build, 3)
set -euo pipefail

. "$(dirname "$0")/common.sh"
rounds="${2:-3}"
duration="${TOVIK_BENCH_DURATION:-5s}"

echo "round mode requests/s p99_ms"
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order="on off"; else order="off on"; fi
  for mode in $order; do
    if [ "$mode" = on ]; then extra=""; else extra="--no-metrics"; fi
    # shellcheck disable=SC2086
    echo "$round $mode $(reverse_throughput "$service" "$db" $extra)"
  done
done | tee "$work/table"

# Medians over the rounds: a parallel build on the shared machine spoils single runs.
on_rps=$(awk '$2 == "on" { print $3 }' "$work/table" | median)
off_rps=$(awk '$2 == "off" { print $3 }' "$work/table" | median)
on_p99=$(awk '$2 == "on" { print $4 }' "$work/table" | median)
off_p99=$(awk '$2 == "off" { print $4 }' "$work/table" | median)
awk -v a="$on_rps" -v b="$off_rps" -v c="$on_p99" -v d="$off_p99" 'BEGIN {
  printf "medians: metrics on %.0f req/s, p99 %.3f ms; off %.0f req/s, p99 %.3f ms; on/off throughput %.3f, p99 %.3f\n",
         a, c, b, d, a / b, c / d }'
