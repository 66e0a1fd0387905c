#!/usr/bin/env bash
# An outside Windows program, built against an SDK tree with mingw, run under Wine against
# the collector running natively on 127.0.0.1: every event arrives exactly once, the queue
# and properties files live in %LOCALAPPDATA%\CorvaneSDK (or a folder below it) of the Wine
# prefix, and the URI scheme is registered under HKCU.
#   wine_consumer_test.sh SDK_TREE COLLECTOR WINEPREFIX TOOLCHAIN
set -euo pipefail
SDK=$1 COLLECTOR=$2 WINEPREFIX=$3 TOOLCHAIN=$4
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/wine_lib.sh"
trap 'cleanup_wine_lib; rm -rf "$WORK"' EXIT
count=200

build_host
start_collector "$WORK/events.db"
appdata="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/CorvaneSDK"
rm -rf "$appdata"
start_host "$WORK/host.out" "$BASE" "$count" "w-"
if ! wait_for_labels "$WORK/events.db" "w-" "$count" 180; then
  echo "FAIL: $(stored_labels "$WORK/events.db" "w-" | sort -u | wc -l) of $count events arrived"
  cat "$WORK/host.out" "$WORK/host.out.err" | tail -n 30
  exit 1
fi
status=0
# Files and registry while the manager still runs.
queue=$(find "$appdata" -name .event_queue 2>/dev/null | head -n 1)
properties=$(find "$appdata" -name .properties 2>/dev/null | head -n 1)
[ -n "$queue" ] || { echo "FAIL: no .event_queue under $appdata"; status=1; }
[ -n "$properties" ] || { echo "FAIL: no .properties under $appdata"; status=1; }
command=$(wine reg query 'HKCU\Software\Classes\corvanewine\shell\open\command' 2>/dev/null | tr -d '\r' || true)
case "$command" in
  *wine_host.exe*) echo "HKCU\\Software\\Classes\\corvanewine: $(echo "$command" | grep -i REG_SZ | head -n 1)" ;;
  *) echo "FAIL: URI scheme not registered under HKCU: $command"; status=1 ;;
esac
wine reg query 'HKCU\Software\Classes\corvanewine' /v 'URL Protocol' >/dev/null 2>&1 ||
  { echo "FAIL: no URL Protocol value"; status=1; }
close_host || { echo "FAIL: the host did not exit cleanly"; status=1; }
# Exactly once, also after the orderly Destroy.
sleep 1
dups=$(stored_labels "$WORK/events.db" "w-" | sort | uniq -d | wc -l)
total=$(stored_labels "$WORK/events.db" "w-" | wc -l)
[ "$dups" -eq 0 ] && [ "$total" -eq "$count" ] ||
  { echo "FAIL: $total stored for $count logged ($dups labels repeated)"; status=1; }
grep -c '^L ' "$WORK/host.out" | grep -qx "$count" || { echo "FAIL: host printed $(grep -c '^L ' "$WORK/host.out") labels"; status=1; }
[ $status -ne 0 ] || echo "delivered $count of $count once; files in ${queue%/*}; scheme in HKCU"
exit $status
