#!/usr/bin/env bash
# Crash safety under Wine: the host logs labelled events while the SDK uploads them to the
# native collector, and is killed with SIGKILL at a random moment, TRIALS times. A clean
# restart then drains the queue: every label the host printed (its log call had returned)
# must reach the collector. Repeats from a kill between upload and removal are reported.
#   wine_crash_test.sh SDK_TREE COLLECTOR WINEPREFIX TOOLCHAIN [TRIALS]
set -euo pipefail
SDK=$1 COLLECTOR=$2 WINEPREFIX=$3 TOOLCHAIN=$4
trials=${5:-${CORVANE_CRASH_TRIALS:-10}}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/wine_lib.sh"
trap 'cleanup_wine_lib; rm -rf "$WORK"' EXIT

build_host
start_collector "$WORK/events.db"
rm -rf "$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/CorvaneSDK"
: >"$WORK/acked"
export CORVANE_HOST_PAUSE_MS=2
for trial in $(seq 1 "$trials"); do
  start_host "$WORK/trial.out" "$BASE" 1500 "c$trial-"
  # Until the host logs, then a random moment within its logging and uploading.
  for _ in $(seq 600); do
    grep -q '^L ' "$WORK/trial.out" 2>/dev/null && break
    grep -q '^E ' "$WORK/trial.out" 2>/dev/null && break
    sleep 0.05
  done
  sleep "$((RANDOM % 2)).$((RANDOM % 10))$((RANDOM % 10))"
  kill -KILL "$host_pid" 2>/dev/null || true
  wait "$host_pid" 2>/dev/null || true
  host_pid=""
  exec 7>&-
  n=$(grep -c '^L ' "$WORK/trial.out" || true)
  # Wine's console writes CRLF.
  grep '^L ' "$WORK/trial.out" | cut -c3- | tr -d '\r' >>"$WORK/acked" || true
  echo "trial $trial: killed after $n log calls"
done
acked=$(sort -u "$WORK/acked" | wc -l)
[ "$acked" -gt 0 ] || { echo "FAIL: no trial logged anything"; cat "$WORK/trial.out.err" | tail -n 20; exit 1; }

# The restart sends what the killed runs left in the queue.
unset CORVANE_HOST_PAUSE_MS
start_host "$WORK/drain.out" "$BASE" 0 "drain-"
deadline=$((SECONDS + 240))
lost=1
while [ $SECONDS -lt $deadline ]; do
  lost=$(comm -23 <(sort -u "$WORK/acked") <(stored_labels "$WORK/events.db" "c[0-9]+-" | sort -u) | wc -l)
  [ "$lost" -eq 0 ] && break
  sleep 1
done
close_host || true
stored=$(stored_labels "$WORK/events.db" "c[0-9]+-" | wc -l)
repeats=$(stored_labels "$WORK/events.db" "c[0-9]+-" | sort | uniq -d | wc -l)
echo "$trials trials, $acked events acknowledged, $stored stored, $repeats repeated, $lost lost"
if [ "$lost" -ne 0 ]; then
  echo "FAIL: lost $(comm -23 <(sort -u "$WORK/acked") <(stored_labels "$WORK/events.db" "c[0-9]+-" | sort -u) | head -n 10 | tr '\n' ' ')"
  exit 1
fi
