#!/usr/bin/env bash
# Reloads under load: reverse geocoding under wrk while the database is swapped and SIGHUP
# sent every RELOAD_EVERY seconds, next to a run of the same length without reloads.
# Reports failed requests (wrk's non-2xx and socket errors) and the longest request of
# each run, on both sides (wrk and the service's access log).
#   bench/server/reload.sh [BUILD_DIR]      (default: build)
set -euo pipefail

. "$(dirname "$0")/common.sh"
source_db="$db"
seconds="${TOVIK_BENCH_SECONDS:-10}"
every="${RELOAD_EVERY:-0.5}"

# Two files with the same content; each swap renames the other one over --db, as a new
# import does, so every reload opens a different file.
cp "$source_db" "$work/a.sqlite"
cp "$source_db" "$work/b.sqlite"
db="$work/places.sqlite"
ln -f "$work/a.sqlite" "$db"

run_one() {
  local name="$1" reloads="$2"
  start_service "$work/$name.err" --db "$db" --threads 32 --access-log "$work/$name.log"
  local pid=$service_pid
  warm_up "$top/bench/server/reverse.lua"
  : > "$work/$name.log"
  wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$top/bench/server/reverse.lua" \
    "http://127.0.0.1:$port" > "$work/$name.wrk" &
  local load=$!
  local swaps=0 next=b
  if [ "$reloads" = yes ]; then
    local until=$((SECONDS + seconds - 1))
    while [ "$SECONDS" -lt "$until" ]; do
      sleep "$every"
      ln -f "$work/$next.sqlite" "$work/next.sqlite"
      mv -f "$work/next.sqlite" "$db"
      kill -HUP "$pid"
      swaps=$((swaps + 1))
      if [ "$next" = b ]; then next=a; else next=b; fi
    done
  fi
  wait "$load"
  kill -TERM "$pid"
  wait "$pid" || true
  echo "== $name: $swaps swaps, $(grep -c 'reloaded' "$work/$name.log" || true) reloads logged, $(grep -c 'reload failed' "$work/$name.log" || true) failed"
  grep -E 'requests in|Requests/sec|Non-2xx|Socket errors|Latency  | 99%' "$work/$name.wrk" || true
  grep -E 'ms$' "$work/$name.log" | awk '{ sub(/ms$/, "", $NF); print $NF }' | sort -g |
    awk '{ t[NR] = $1 } END { printf "-- server-side handling: p99 %.3f ms, max %.3f ms over %d requests\n", t[int(NR * 0.99)], t[NR], NR }'
  grep -E ' [0-9]{3} ' "$work/$name.log" | awk '$0 !~ /" 200 /' | head -3 | sed 's/^/-- not 200: /'
}

run_one steady no
run_one reloading yes
