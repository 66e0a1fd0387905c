#!/usr/bin/env bash
# HTTPS through Schannel under Wine: a local TLS server whose certificate is signed by a
# self-signed CA made here. With that CA's file the events arrive; with another CA's file
# they are refused. Without any CA file Wine 8's Schannel accepts the unknown CA (Windows
# refuses it), so that case is only tested on Linux (EventSenderTlsTest).
#   wine_tls_test.sh SDK_TREE COLLECTOR WINEPREFIX TOOLCHAIN
set -euo pipefail
SDK=$1 COLLECTOR=$2 WINEPREFIX=$3 TOOLCHAIN=$4
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/wine_lib.sh"
tls_pid=""
trap 'cleanup_wine_lib; [ -z "$tls_pid" ] || kill "$tls_pid" 2>/dev/null; rm -rf "$WORK"' EXIT

cd "$WORK"
make_ca() {  # make_ca NAME
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$1" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$1.key" -out "$1.pem" >/dev/null 2>&1
}
make_ca corvane-test-ca
make_ca other-ca
# curl 7.88's Schannel code matches the host name against DNS names only: "localhost".
openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key -out server.csr \
  >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >ext
openssl x509 -req -in server.csr -CA corvane-test-ca.pem -CAkey corvane-test-ca.key \
  -CAcreateserial -days 2 -extfile ext -out server.pem >/dev/null 2>&1
python3 "$HERE/tls_server.py" server.pem server.key >tls.out 2>tls.err &
tls_pid=$!
for _ in $(seq 100); do [ -s tls.out ] && break; sleep 0.1; done
BASE="https://localhost:$(head -n 1 tls.out)"
build_host
ca=$(wine winepath -w "$WORK/corvane-test-ca.pem" 2>/dev/null | tr -d '\r')
other=$(wine winepath -w "$WORK/other-ca.pem" 2>/dev/null | tr -d '\r')
rm -rf "$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local/CorvaneSDK"
export CORVANE_HOST_LOG_LEVEL=4
puts() { grep -c '^PUT ' tls.out || true; }
status=0

# A CA file of another CA: curl's own chain check refuses the server.
start_host other.out "$BASE" 3 "t-" "$other"
for _ in $(seq 240); do grep -q 'transfer failed' other.out && break; sleep 0.5; done
close_host || true
refused=$(puts)
grep -q 'transfer failed' other.out || { echo "FAIL: no refused transfer with another CA"; status=1; }
[ "$refused" -eq 0 ] || { echo "FAIL: $refused uploads passed with another CA's file"; status=1; }
# The right CA file: chain and host name check out, the queued events arrive.
start_host with.out "$BASE" 3 "t-" "$ca"
for _ in $(seq 240); do [ "$(puts)" -gt 0 ] && break; sleep 0.5; done
close_host || true
arrived=$(puts)
if [ "$arrived" -eq 0 ]; then
  echo "FAIL: no upload through Schannel with the CA file"
  grep -iE 'schannel|transfer failed' with.out | head -n 10
  status=1
fi
echo "another CA's file: refused ($(grep -m1 -o 'transfer failed.*' other.out | tr -d '\r'))"
echo "the CA file $ca: $arrived uploads ($(grep -m1 -o 'schannel: connection hostname.*' with.out | tr -d '\r'))"
exit $status
