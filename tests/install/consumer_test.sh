#!/usr/bin/env bash
# Installs the SDK into a temp prefix, then builds and runs an outside consumer against it,
# once through find_package(CorvaneSDK) and once through pkg-config.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name 'libcorvane-sdk-cpp.so*' | head -n 1)")
cmake -S "$source/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer"
PKG_CONFIG_PATH="$libdir/pkgconfig" cc -o "$work/pc-consumer" "$source/consumer/main.c" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs corvane-sdk-cpp)
LD_LIBRARY_PATH="$libdir" "$work/pc-consumer"
echo "consumer builds passed"
