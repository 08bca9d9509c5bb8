#!/usr/bin/env bash
# Instructions a reverse-geocoding request costs the service, counted by callgrind, for an
# older build and this one: unlike requests per second, the count does not depend on what
# else the machine is doing. Each service runs under callgrind with counting off while it
# opens its database and warms up; then one wrk connection sends reverse.lua's requests for
# TOVIK_BENCH_DURATION (default 10s) while instructions are counted.
#   bench/server/instructions.sh OLD_SERVICE OLD_DB [BUILD_DIR]
set -euo pipefail

old_service="$1"
old_db="$2"
shift 2
. "$(dirname "$0")/common.sh"
command -v callgrind_control >/dev/null || { echo "valgrind is not installed (scripts/bootstrap installs it)" >&2; exit 1; }
duration="${TOVIK_BENCH_DURATION:-10s}"
script="$top/bench/server/reverse.lua"

count() {
  local name="$1" program="$2" database="$3" out="$work/callgrind.$1"
  valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out" \
    "$program" serve --port "$port" --db "$database" --threads 4 --access-log /dev/null 2> "$out.err" &
  local pid=$! requests total
  # Opening and checking the database takes a minute or so under callgrind.
  for _ in $(seq 1200); do
    grep -q "listening on" "$out.err" 2>/dev/null && break
    sleep 0.25
  done
  wrk -t1 -c1 -d2s -s "$script" "http://127.0.0.1:$port" > /dev/null
  callgrind_control -i on "$pid" > /dev/null 2>&1
  requests=$(wrk -t1 -c1 -d"$duration" -s "$script" "http://127.0.0.1:$port" | awk '$2 == "requests" && $3 == "in" { print $1 }')
  callgrind_control -i off "$pid" > /dev/null 2>&1
  kill -TERM "$pid"
  wait "$pid" || true
  total=$(callgrind_annotate "$out" 2> /dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }')
  echo "$name: $requests requests, $((total / requests)) instructions a request"
}

count old "$old_service" "$old_db"
count new "$service" "$db"
