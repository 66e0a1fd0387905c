#!/usr/bin/env bash
# Debian splits cpp-httplib into a declaration header and a shared library; cross builds
# need the single header-only httplib.h of its source package. Fetched once per Debian
# version into OUT/httplib-<version>; prints that folder (which holds httplib.h).
#   tools/httplib-source.sh OUT
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
source "$(dirname "$0")/debian-source.sh"
ensure_deb_src cpp-httplib
version=$(apt-cache showsrc cpp-httplib | sed -n 's/^Version: //p' | sort -V | tail -n 1)
[ -n "$version" ] || { echo "==> no cpp-httplib source package" >&2; exit 1; }
dir="$out/httplib-$version"
if [ ! -f "$dir/httplib.h" ]; then
  work="$out/httplib-src-$version"
  rm -rf "$work" && mkdir -p "$work"
  echo "==> fetching Debian's cpp-httplib $version source" >&2
  # Downloads as root warn that the _apt sandbox cannot be used; the files are the same.
  (cd "$work" && apt-get source -qq "cpp-httplib=$version" >/dev/null 2>&1)
  header=$(find "$work" -maxdepth 3 -name httplib.h | head -n 1)
  [ -n "$header" ] || { echo "==> no httplib.h in the source" >&2; exit 1; }
  mkdir -p "$dir"
  cp "$header" "$dir/httplib.h"
  rm -rf "$work"
fi
echo "$dir"
