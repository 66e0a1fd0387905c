#!/usr/bin/env bash
# Builds and runs an outside consumer against an installed or unpacked SDK tree, once
# through find_package(CorvaneSDK) and once through pkg-config.
#   consumer_tree_test.sh TREE SOURCE VERSION (the project version the library must report)
set -euo pipefail
tree=$1
source=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
libdir=$(dirname "$(find "$tree" -name 'libcorvane-sdk-cpp.so*' | head -n 1)")
mkdir -p "$work/consumer"
cp "$source/consumer/CMakeLists.txt" "$work/consumer/"
sed "s/@PROJECT_VERSION@/$version/g" "$source/consumer/main.c" >"$work/consumer/main.c"
cmake -S "$work/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$tree" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer"
PKG_CONFIG_PATH="$libdir/pkgconfig" cc -o "$work/pc-consumer" "$work/consumer/main.c" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs corvane-sdk-cpp)
LD_LIBRARY_PATH="$libdir" "$work/pc-consumer"
echo "consumer builds passed"
