#!/usr/bin/env bash
# The mobile demo against a fresh collector on a free loopback port (the ctest entry):
#   run-against-collector.sh COLLECTOR MOBILE_DEMO SDK_CONFIG MOBILE_CONFIG
set -euo pipefail
collector=$1 demo=$2 sdk_config=$3 mobile_config=$4
dir=$(mktemp -d "${TMPDIR:-/tmp}/corvane-mobile-demo-test.XXXXXX")
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
"$collector" serve --port 0 --port-file "$dir/port" --db "$dir/events.db" \
  --app demo-ios:demo-ios-secret --sdk-config "demo-ios=$sdk_config" \
  --mobile-config "demo-ios=$mobile_config" \
  >"$dir/collector.out" 2>"$dir/collector.log" &
pid=$!
for _ in $(seq 300); do
  [ -s "$dir/port" ] && break
  kill -0 "$pid" 2>/dev/null || { cat "$dir/collector.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$dir/port" ] || { echo "the collector did not report its port" >&2; exit 1; }
status=0
timeout 240 "$demo" "http://127.0.0.1:$(cat "$dir/port")" "$dir/app" || status=$?
[ $status -eq 0 ] || cat "$dir/collector.log" >&2
exit $status
