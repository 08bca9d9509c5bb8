#!/usr/bin/env bash
# Load test of tovik-service on loopback with wrk: reverse geocoding and nearby search.
#   bench/server/run.sh [BUILD_DIR]        (default: build)
# Imports the GeoNames places first if the build has no database. The service and wrk
# share the machine's cores. Prints wrk's report and the service's own figures (slowest
# handling time, requests over 100 ms, longest wait of a connection for a worker), which
# catch a starved connection that wrk's latencies cannot show.
set -euo pipefail

top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$top/build}"
service="$build/server/tovik-service"
db="$build/server/places.sqlite"
port="${TOVIK_BENCH_PORT:-8613}"
threads="${TOVIK_BENCH_THREADS:-32}"
duration="${TOVIK_BENCH_DURATION:-10s}"
connections="${TOVIK_BENCH_CONNECTIONS:-16}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

[ -x "$service" ] || { echo "no $service: build the tovik-service target first" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed (scripts/bootstrap installs it)" >&2; exit 1; }
[ -f "$db" ] || "$service" import --db "$db"

run_one() {
  local name="$1" script="$2"
  "$service" serve --db "$db" --port "$port" --threads "$threads" --access-log "$work/$name.log" \
    2> "$work/$name.err" &
  local pid=$!
  for _ in $(seq 100); do
    grep -q "listening on" "$work/$name.err" 2>/dev/null && break
    sleep 0.1
  done
  grep -q "listening on" "$work/$name.err" || { cat "$work/$name.err" >&2; kill "$pid"; exit 1; }

  # A short warm-up so that the database pages are in memory, as in steady service.
  wrk -t2 -c"$connections" -d2s -s "$script" "http://127.0.0.1:$port" > /dev/null
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
