# Helpers of the Wine scripts (sourced): the consumer built from an SDK tree, the native
# collector on a free loopback port, and the host program run under Wine.
# Needs: SDK (the installed or unpacked tree), COLLECTOR, WINEPREFIX, HERE (this folder),
# TOOLCHAIN (cmake/mingw-w64.cmake) and WORK (a scratch folder).
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX
triple=x86_64-w64-mingw32
collector_pid=""
host_pid=""

cleanup_wine_lib() {
  [ -z "$host_pid" ] || kill -KILL "$host_pid" 2>/dev/null || true
  [ -z "$collector_pid" ] || { kill -TERM "$collector_pid" 2>/dev/null; wait "$collector_pid" 2>/dev/null; } || true
}

# The consumer through the package's CMake config, and once more with the plain compiler
# against the headers and the import library; the DLL goes beside the programs.
build_host() {
  cmake -S "$HERE/consumer" -B "$WORK/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCorvaneSDK_DIR="$(dirname "$(find "$SDK" -name CorvaneSDKConfig.cmake | head -n 1)")" \
    >"$WORK/consumer.log" 2>&1 || { cat "$WORK/consumer.log"; return 1; }
  cmake --build "$WORK/consumer" >>"$WORK/consumer.log" 2>&1 || { cat "$WORK/consumer.log"; return 1; }
  "$triple-gcc-posix" -std=c99 -Wall -Werror -o "$WORK/plain_host.exe" "$HERE/wine_host.c" \
    -I"$SDK/include" "$(find "$SDK" -name 'corvane-sdk-cpp.lib' | head -n 1)"
  cp "$(find "$SDK" -name 'corvane-sdk-cpp.dll' | head -n 1)" "$WORK/consumer/"
  HOST_EXE="$WORK/consumer/wine_host.exe"
}

start_collector() {  # start_collector DB
  rm -f "$WORK/port"
  "$COLLECTOR" serve --port 0 --port-file "$WORK/port" --db "$1" --app win-app:win-secret \
    >"$WORK/collector.out" 2>"$WORK/collector.log" &
  collector_pid=$!
  for _ in $(seq 300); do
    [ -s "$WORK/port" ] && break
    sleep 0.1
  done
  [ -s "$WORK/port" ] || { echo "the collector did not start"; cat "$WORK/collector.log"; return 1; }
  BASE="http://127.0.0.1:$(cat "$WORK/port")"
}

# Labels stored by the collector, one a line, with repeats.
stored_labels() {  # stored_labels DB PREFIX
  "$COLLECTOR" export --db "$1" 2>/dev/null | grep -oE "\"$2[0-9]+\"" | tr -d '"' || true
}

wait_for_labels() {  # wait_for_labels DB PREFIX COUNT SECONDS
  local deadline=$((SECONDS + $4))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(stored_labels "$1" "$2" | sort -u | wc -l)" -ge "$3" ] && return 0
    sleep 0.5
  done
  return 1
}

# Runs the host in the background with a pipe on stdin that stays open until close_host.
start_host() {  # start_host OUT ARGS...
  local out=$1; shift
  rm -f "$WORK/stdin"; mkfifo "$WORK/stdin"
  wine "$HOST_EXE" "$@" <"$WORK/stdin" >"$out" 2>"$out.err" &
  host_pid=$!
  exec 7>"$WORK/stdin"
}
close_host() {  # lets the host destroy the manager and exit; fails when it does not
  exec 7>&-
  local status=0
  wait "$host_pid" || status=$?
  host_pid=""
  return $status
}
