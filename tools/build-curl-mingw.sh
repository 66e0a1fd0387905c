#!/usr/bin/env bash
# Builds a static libcurl for 64-bit Windows (mingw-w64) from Debian's own curl source
# package: Schannel for TLS, none of the optional libraries, so the DLL that links it needs
# only Windows' own DLLs. The result is cached under OUT/curl-<Debian version>; a rerun with
# the same version does nothing. Prints the install prefix on its last line.
#   tools/build-curl-mingw.sh OUT [JOBS]
set -euo pipefail
out=$(mkdir -p "$1" && cd "$1" && pwd)
jobs=${2:-2}
triple=x86_64-w64-mingw32
log() { printf '==> %s\n' "$*" >&2; }

source "$(dirname "$0")/debian-source.sh"
ensure_deb_src curl
version=$(apt-cache showsrc curl | sed -n 's/^Version: //p' | sort -V | tail -n 1)
[ -n "$version" ] || { log "no curl source package"; exit 1; }
prefix="$out/curl-$version"
if [ -f "$prefix/.built" ]; then
  log "libcurl $version for $triple: cached in $prefix"
  echo "$prefix"
  exit 0
fi

work="$out/curl-src-$version"
rm -rf "$work" "$prefix"
mkdir -p "$work"
log "fetching Debian's curl $version source"
# Downloads as root warn that the _apt sandbox cannot be used; the files are the same.
(cd "$work" && apt-get source -qq "curl=$version" >/dev/null 2>&1) ||
  (cd "$work" && apt-get source -qq curl >/dev/null)
srcdir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'curl-*' | head -n 1)
[ -n "$srcdir" ] || { log "apt-get source gave no curl folder"; exit 1; }

log "configuring libcurl for $triple (static, Schannel)"
cd "$srcdir"
[ -x configure ] || autoreconf -fi >/dev/null
./configure --host="$triple" --prefix="$prefix" \
  --disable-shared --enable-static --with-pic \
  --with-schannel --without-openssl --without-gnutls --without-wolfssl \
  --without-mbedtls --without-bearssl --without-rustls \
  --without-zlib --without-brotli --without-zstd --without-libpsl --without-nghttp2 \
  --without-nghttp3 --without-ngtcp2 --without-quiche --without-msh3 --without-hyper \
  --without-libidn2 --without-winidn --without-librtmp --without-libssh2 --without-libssh \
  --without-wolfssh --without-libgsasl --without-ca-bundle --without-ca-path \
  --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet --disable-tftp \
  --disable-ftp --disable-file --disable-pop3 --disable-imap --disable-smtp --disable-gopher --disable-mqtt --disable-smb \
  --disable-manual --disable-docs --disable-curldebug --enable-ipv6 \
  >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log" >&2; exit 1; }
log "building libcurl"
make -j"$jobs" -C lib >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log" >&2; exit 1; }
make -C lib install >/dev/null
make -C include install >/dev/null
install -m 0644 libcurl.pc "$prefix/lib/pkgconfig/libcurl.pc" 2>/dev/null || true
cp "$work/configure.log" "$prefix/configure.log"
touch "$prefix/.built"
rm -rf "$work"
log "libcurl $version for $triple installed in $prefix"
echo "$prefix"
