#!/usr/bin/env bash
# Load test of tovik-service on loopback with wrk: reverse geocoding and nearby search.
#   bench/server/run.sh [BUILD_DIR]        (default: build)
# Imports the GeoNames places first if the build has no database. The service and wrk
# share the machine's cores. Prints wrk's report and the service's own figures (slowest
# handling time, requests over 100 ms, longest wait of a connection for a worker), which
# catch a starved connection that wrk's latencies cannot show.
set -euo pipefail

. "$(dirname "$0")/common.sh"
threads="${TOVIK_BENCH_THREADS:-32}"
duration="${TOVIK_BENCH_DURATION:-10s}"

run_one() {
  local name="$1" script="$2"
  start_service "$work/$name.err" --db "$db" --threads "$threads" --access-log "$work/$name.log"
  local pid=$service_pid
  warm_up "$script"
  echo "== $name: wrk -t2 -c$connections -d$duration --latency -s $(basename "$script")"
  wrk -t2 -c"$connections" -d"$duration" --latency -s "$script" "http://127.0.0.1:$port"

  kill -TERM "$pid"
  wait "$pid" || true
  echo "-- service: $(grep 'stopped:' "$work/$name.err" | sed 's/^tovik-service: //')"
  echo "-- access log lines: $(wc -l < "$work/$name.log")"
  # Handling times as the service itself measured them (warm-up included).
  awk '{ sub(/ms$/, "", $NF); print $NF }' "$work/$name.log" | sort -g |
    awk '{ t[NR] = $1 } END {
      printf "-- server-side handling: p50 %.3f ms, p99 %.3f ms, p99.9 %.3f ms, max %.3f ms over %d requests\n",
        t[int(NR * 0.50)], t[int(NR * 0.99)], t[int(NR * 0.999)], t[NR], NR }'
  echo
}

run_one reverse-geocoding "$top/bench/server/reverse.lua"
run_one nearby-search "$top/bench/server/nearby.lua"
