#!/usr/bin/env bash
# Builds an outside game against the SDK the three ways the integration guide describes
# (installed package, add_subdirectory, FetchContent), plus pkg-config, by running the shell
# blocks and CMake files of the guide itself. Each game must run from a copied, stripped
# folder without LD_LIBRARY_PATH. Usage: consumer_test.sh BUILD_DIR SOURCE_ROOT VERSION
set -euo pipefail
build=$1
root=$2
version=$3  # the project version the library must report
guide="$root/docs/integration-guide.md"
# A fixed folder (not mktemp), so that ccache sees the same paths run after run.
work="$build/consumer-test"
rm -rf "$work"
mkdir -p "$work/mygame"
ln -s "$root" "$work/corvane-sdk"
sed "s/@PROJECT_VERSION@/$version/g" "$root/tests/install/consumer/main.c" >"$work/mygame/main.c"
cd "$work"
unset LD_LIBRARY_PATH
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$work" CCACHE_NOHASHDIR=1
fi
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

# The block after "<!-- consumer-test: NAME -->" (or "-file: NAME") in the guide.
block() {
  awk -v marker="<!-- $1: $2 -->" '
    $0 == marker { armed = 1; next }
    armed && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$guide"
}

run_block() {
  local name=$1 text
  text=$(block consumer-test "$name")
  [ -n "$text" ] || { echo "the guide has no consumer-test block \"$name\"" >&2; exit 1; }
  echo "==> guide block: $name"
  bash -euo pipefail -c "$text"
}

game() {  # game WAY: the guide's CMake file for WAY, its build commands, then shipping
  local way=$1
  rm -rf mygame-build ship
  block consumer-test-file "$way" >mygame/CMakeLists.txt
  [ -s mygame/CMakeLists.txt ] || { echo "the guide has no CMake file \"$way\"" >&2; exit 1; }
  run_block "$way"
  run_block ship
  # Stripped, and nothing left of the build tree's rpath: only $ORIGIN.
  if readelf -d ship/mygame | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN'; then
    echo "$way: the shipped game keeps a build-tree rpath" >&2
    exit 1
  fi
  if readelf -S ship/libcorvane-sdk-cpp.so.0 | grep -q '\.debug_info'; then
    echo "$way: the shipped library is not stripped" >&2
    exit 1
  fi
}

run_block install
collector="$work/corvane-install/bin/corvane-collector"
[ -x "$collector" ] || { echo "the collector was not installed" >&2; exit 1; }
"$collector" help 2>&1 | grep -q "serve" || { echo "the installed collector does not run" >&2; exit 1; }

game installed
run_block pkg-config
game add_subdirectory
game fetchcontent
cd /
rm -rf "$work"
echo "consumer builds passed"
