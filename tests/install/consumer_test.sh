#!/usr/bin/env bash
# Installs the SDK into a temp prefix, then builds and runs an outside consumer against it.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
bash "$source/consumer_tree_test.sh" "$work/prefix" "$source"
