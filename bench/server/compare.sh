#!/usr/bin/env bash
# Throughput of reverse geocoding against an older build of the service: the same wrk load
# as run.sh (-t2 -c16, 2 s warm-up, 10 s measured) on each build in turn, alternated over a
# few rounds in one run with the order flipped every round, so that a drift in the shared
# machine's load falls on both sides.
#   bench/server/compare.sh OLD_SERVICE OLD_DB [BUILD_DIR] [ROUNDS]   (defaults: build, 3)
# OLD_SERVICE and OLD_DB are an older tovik-service binary and a database it imported.
set -euo pipefail

old_service="$1"
old_db="$2"
shift 2
. "$(dirname "$0")/common.sh"
rounds="${2:-3}"
duration="${TOVIK_BENCH_DURATION:-10s}"
new_service="$service"

echo "round build requests/s p99_ms   (load average at the start: $(cut -d' ' -f1-3 /proc/loadavg))"
for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order="old new"; else order="new old"; fi
  for which in $order; do
    if [ "$which" = old ]; then echo "$round old $(reverse_throughput "$old_service" "$old_db")"
    else echo "$round new $(reverse_throughput "$new_service" "$db")"; fi
  done
done | tee "$work/table"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

old_rps=$(awk '$2 == "old" { print $3 }' "$work/table" | median)
new_rps=$(awk '$2 == "new" { print $3 }' "$work/table" | median)
awk -v a="$new_rps" -v b="$old_rps" 'BEGIN {
  printf "medians: new %.0f req/s, old %.0f req/s; new/old %.3f\n", a, b, a / b }'
