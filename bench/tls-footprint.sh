#!/bin/bash
# SPDX-License-Identifier: MIT
# What TLS costs: sizes with and without it (libnamreg-httpclient.a, a small
# C program that links the HTTP client and asks for TLS, tls_probe, namreg,
# ddnsupdate; all stripped, preset release), and for one HTTPS GET of
# tls_probe against a local openssl s_server its peak heap (massif), peak
# RSS and instructions (callgrind), beside curl doing the same GET.  The
# GET runs in a private network namespace (loopback only), so run as root.
#
# usage: bench/tls-footprint.sh [build-with-tls] [build-without-tls]
#        defaults: build/release and build/notls (configured with NAMREG_TLS=OFF)
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$src/bench/measure.sh"
with=${1:-$src/build/release}
without=${2:-$src/build/notls}

. "$src/tools/build-targets.sh"

if [ "${NAMREG_TLS_FOOTPRINT_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "tls-footprint.sh: run as root (private network namespace)" >&2; exit 1; }
  namreg_build "$src" "$with" namreg_httpclient tls_probe namreg ddnsupdate
  NAMREG_CONFIGURE_ARGS=(-DNAMREG_TLS=OFF -DNAMREG_BUILD_BENCH=OFF)
  namreg_build "$src" "$without" namreg_httpclient tls_probe namreg ddnsupdate
  NAMREG_TLS_FOOTPRINT_INSIDE=1 exec unshare --net bash "${BASH_SOURCE[0]}" "$with" "$without"
fi

# ---- inside the namespace ----
ip link set lo up
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The C program: creates a client, asks for TLS, and (with an argument)
# runs a GET, so that the whole synchronous exchange is linked.
cat > "$work/https_get.c" <<'CODE'
#include <namreg/httpclient.h>
#include <stdio.h>
#include <string.h>
int main(int argc, char **argv) {
  HTTPClientHandle client = NULL;
  if (HTTPClient_Initial(&client, HTTPCLIENT_VERSION) != 0) return 1;
  HTTPClientTLSOptions tls;
  memset(&tls, 0, sizeof tls);
  tls.dwEnable = 1;
  printf("HTTPClient_SetTLS: 0x%08x\n", (unsigned)HTTPClient_SetTLS(client, &tls));
  if (argc > 1) {
    static HTTPClientInfo info;
    static char body[4096];
    snprintf(info.tServer.szHost, sizeof info.tServer.szHost, "%s", argv[1]);
    info.tServer.dwPort = 443;
    strcpy(info.szURI, "/");
    info.pRecvBuffer = body;
    info.dwRecvSize = sizeof body;
    info.dwTotalTimeout = 10000000;
    printf("HTTPClient_Get: 0x%08x\n", (unsigned)HTTPClient_Get(client, &info));
  }
  return (int)HTTPClient_Release(&client);
}
CODE
c_program() {  # <build dir> <output>
  local build=$1 tls_libs=()
  # grep reads all of nm's output: with -q, nm could die of SIGPIPE and
  # pipefail would read that as "no mbedTLS".
  if nm "$build/httpclient/libnamreg-httpclient.a" 2>/dev/null | grep ' U mbedtls_' > /dev/null; then
    tls_libs=(-l:libmbedtls.a -l:libmbedx509.a -l:libmbedcrypto.a)
  fi
  cc -std=c11 -Os -ffunction-sections -fdata-sections -I"$src/httpclient/include" \
     -o "$2" "$work/https_get.c" -Wl,--gc-sections -s \
     "$build/httpclient/libnamreg-httpclient.a" "$build/netutility/libnamreg-netutility.a" \
     "$build/common/libnamreg-common.a" "$build/osal/libnamreg-osal.a" "${tls_libs[@]}" -lpthread
}
stripped() {  # <file> -> bytes
  strip -o "$work/stripped" "$1" && stat -c %s "$work/stripped"
}
code_bytes() {  # machine code and data of an archive (the LTO IR beside it not counted)
  size -t "$1" 2>/dev/null | awk 'END { print $1 + $2 + $3 }'
}

c_program "$with" "$work/c_with"
c_program "$without" "$work/c_without"
echo "TLS footprint ($(uname -m), MinSizeRel; stripped programs; bytes)"
printf '  %-46s %12s %12s\n' "" "with TLS" "without TLS"
printf '  %-46s %12s %12s\n' "libnamreg-httpclient.a (file)" \
  "$(stat -c %s "$with/httpclient/libnamreg-httpclient.a")" \
  "$(stat -c %s "$without/httpclient/libnamreg-httpclient.a")"
printf '  %-46s %12s %12s\n' "libnamreg-httpclient.a (code + data)" \
  "$(code_bytes "$with/httpclient/libnamreg-httpclient.a")" \
  "$(code_bytes "$without/httpclient/libnamreg-httpclient.a")"
printf '  %-46s %12s %12s\n' "C program: client, SetTLS, synchronous GET" \
  "$(stat -c %s "$work/c_with")" "$(stat -c %s "$work/c_without")"
printf '  %-46s %12s %12s\n' "tls_probe (the TLS layer and mbedTLS)" \
  "$(stripped "$with/tests/tls/tls_probe")" "$(stripped "$without/tests/tls/tls_probe")"
printf '  %-46s %12s %12s\n' "namreg" "$(stripped "$with/app/namreg")" "$(stripped "$without/app/namreg")"
printf '  %-46s %12s %12s\n' "ddnsupdate" \
  "$(stripped "$with/ddnsupdate/ddnsupdate")" "$(stripped "$without/ddnsupdate/ddnsupdate")"
echo "  (the C program is a whole HTTPS client on the public API: HTTPClient_SetTLS answered"
echo "   $("$work/c_with" | sed -n 's/^HTTPClient_SetTLS: //p'); tls_probe drives the TLS layer alone)"

# One HTTPS GET: RSA 2048 certificate, the system CA bundle plus it as CA file.
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout key.pem -out cert.pem \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -addext extendedKeyUsage=serverAuth \
  2>/dev/null
cat /etc/ssl/certs/ca-certificates.crt cert.pem > bundle.pem
openssl s_server -accept 127.0.0.1:8443 -cert cert.pem -key key.pem -www -quiet > /dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8443) 2>/dev/null && break; sleep 0.1; done

probe=("$with/tests/tls/tls_probe" bundle.pem 127.0.0.1 / 8443)
curl_get=(curl -s -o /dev/null --cacert bundle.pem https://127.0.0.1:8443/)
echo "One HTTPS GET (TLS 1.2, ECDHE, RSA 2048 server key; CA file: system bundle + test CA)"
"${probe[@]}" | sed 's/^/  tls_probe: /'
peak_heap() {
  valgrind --tool=massif --massif-out-file=massif.out "$@" > /dev/null 2>&1
  grep -E '^mem_heap_(extra_)?B=' massif.out | sed 's/.*=//' | paste - - | awk '{ s = $1 + $2; if (s > m) m = s } END { print m }'
}
printf '  %-28s %14s %14s\n' "" "tls_probe" "curl"
printf '  %-28s %14s %14s\n' "peak RSS (KiB, median of 5)" "$(peak_rss "${probe[@]}")" "$(peak_rss "${curl_get[@]}")"
printf '  %-28s %14s %14s\n' "peak heap (bytes, massif)" "$(peak_heap "${probe[@]}")" "$(peak_heap "${curl_get[@]}")"
printf '  %-28s %14s %14s\n' "instructions (callgrind)" "$(instructions "${probe[@]}")" "$(instructions "${curl_get[@]}")"
