#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes the seed corpus of the http_async target (fuzz/corpus/http_async/):
# one input per road through the client that the fuzzer should start from.
# The input layout is described at the top of fuzz/http_async.cpp.
#   fuzz/make-http-async-seeds.sh
set -euo pipefail
export LC_ALL=C
out="$(cd "$(dirname "$0")" && pwd)/corpus/http_async"
rm -rf "$out"
mkdir -p "$out"

byte() { printf "\\x$(printf '%02x' "$1")"; }

# header OP BUFFER TIMEOUTS FLAGS3 FLAGS4
header() { for b in "$@"; do byte "$b"; done; }

# piece CONNECTION DELAY_CODE FIN TEXT (printf %b escapes; longer texts are
# cut into pieces of 255 bytes, the later ones without delay)
piece() {
  local connection=$1 delay=$2 fin=$3 text
  text=$(printf '%b' "$4"; printf x)
  text=${text%x}
  while :; do
    local part=${text:0:255}
    text=${text:255}
    local last=$(( ${#text} == 0 ))
    byte $(( connection | (fin && last ? 8 : 0) | delay << 4 ))
    byte ${#part}
    printf '%s' "$part"
    delay=0
    ((last)) && break
  done
}

# Time-out byte: connect | send << 2 | receive << 4, each 0 (0.4 ms) 1 (150 ms)
# 2 (1 s) 3 (3 s).
t() { echo $(( $1 | $2 << 2 | $3 << 4 )); }
T=$(t 2 2 2)

ok_length='HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nhello world'

{ header 0 63 "$T" 0 0; piece 0 0 0 "$ok_length"; } >"$out/get-length"
{ header 0 15 "$T" 0 0
  piece 0 3 0 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r'
  piece 0 6 0 '\nhello\r\n6;x=1\r\n world'
  piece 0 9 0 '\r\n0\r\n\r\n'; } >"$out/get-chunked-slow"
# A chunk-size line cut in two, its second half 2.5 s later.
{ header 0 63 "$(t 2 2 3)" 0 0
  piece 0 0 0 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1'
  piece 0 11 0 '0\r\n0123456789abcdef\r\n0\r\n\r\n'; } >"$out/get-chunk-line-split"
{ header 0 255 "$T" 0 0; piece 0 0 1 'HTTP/1.0 200 OK\r\n\r\nthe body ends with the close'; } \
  >"$out/get-close"
# The header, then nothing: the receive time-out ends it.
{ header 0 63 "$T" 0 0; piece 0 4 0 'HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\npart'; } \
  >"$out/get-silent-tail"
{ header 0 63 "$T" 0 0; } >"$out/get-silent"
{ header 0 63 "$(t 0 2 2)" 0 0; } >"$out/get-connect-timeout"
{ header 128 63 "$(t 2 2 2)" 0 0; piece 0 15 0 "$ok_length"; } >"$out/get-late"
# A close-delimited body of 3,995 bytes taken one byte a step.
{ header 0 0 "$T" 0 0
  piece 0 0 0 "HTTP/1.1 200\r\n\r\n$(printf 'A%.0s' $(seq 3995))"
  piece 0 0 1 ''; } >"$out/get-one-byte-buffer"
{ header $((32)) 63 "$T" 0 0
  piece 0 2 0 'HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm="cam", qop="auth", nonce="abc123", opaque="o"\r\nContent-Length: 0\r\n\r\n'
  piece 1 2 0 "$ok_length"; } >"$out/get-digest-401"
{ header $((8 | 16)) 63 "$T" 0 0
  piece 0 2 0 'HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm="p"\r\n\r\n'
  piece 1 2 0 "$ok_length"; } >"$out/get-proxy-407"
{ header 0 63 "$(( T | 128 ))" 0 0
  piece 0 0 0 'HTTP/1.1 200 OK\r\nServer: Haldrim Video Server\r\nContent-Length: 4\r\n\r\nbody'
  piece 0 5 1 'more'; } >"$out/get-filtered"
{ header 64 63 "$T" 0 0; piece 0 0 0 "$ok_length"; } >"$out/get-abort"
{ header 4 63 "$T" 0 0; piece 0 0 0 "$ok_length"; piece 1 0 0 "$ok_length"; } >"$out/get-twice"
{ header 0 63 "$(( T | 64 ))" 0 0; piece 0 6 0 "$ok_length"; } >"$out/get-tick-wrap"

{ header 1 63 "$T" 1 0
  piece 0 3 0 'HTTP/1.1 100 Continue\r\n\r\n'
  piece 0 3 0 "$ok_length"; } >"$out/post-continue"
{ header 1 63 "$T" 2 0; piece 0 5 0 'HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n'; } \
  >"$out/post-404"
{ header 1 63 "$T" 0 0; } >"$out/post-silent"
# A body larger than a peer that reads nothing can take: the send time-out.
{ header $((1 | 128)) 63 "$(t 2 1 2)" 3 0; } >"$out/post-stalled"
# A status line while the body is still going out, the rest of the header
# never: the client only looks, without waiting, until its receive time-out.
{ header $((1 | 128)) 63 "$(t 1 1 1)" 3 0; piece 0 2 0 'HTTP/1.1 300 Multiple Choices\r\n'; } \
  >"$out/post-status-while-sending"

{ header 2 63 "$T" 0 0; piece 0 2 0 'HTTP/1.0 200 OK\r\n\r\n'; } >"$out/tunnel-get"
{ header 2 63 "$T" 0 0; piece 0 2 0 'HTTP/1.0 403 Forbidden\r\n\r\n'; } >"$out/tunnel-get-403"

# Tunnel open.  Flags3: first answer << 2, second << 4, request kind << 6;
# 0 accept, 1 refuse, 2 silence, 3 close.
open_ok='HTTP/1.0 200 OK\r\n\r\n'
post_ok='HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n'
{ header 3 63 "$T" $((0 << 2)) 1; piece 0 2 0 "$open_ok"; } >"$out/open-accept"
{ header 3 63 "$T" 0 0; piece 0 2 0 "${open_ok}http tunnel accept=1"; } >"$out/open-answer-with-header"
{ header 3 63 "$T" $((1 << 2 | 0 << 4)) 1
  piece 0 2 0 "$open_ok"; piece 2 2 0 "$open_ok"; piece 3 2 0 "$post_ok"; } >"$out/open-refused-fallback"
{ header 3 63 "$T" $((2 << 2 | 0 << 4)) 0
  piece 0 2 0 "$open_ok"; piece 2 2 0 "$open_ok"; piece 3 2 0 "$post_ok"; } >"$out/open-silent-fallback"
{ header 3 63 "$T" $((3 << 2)) 0; piece 0 2 0 "$open_ok"; } >"$out/open-closed"
{ header 3 63 "$T" 0 0; piece 0 2 0 "${open_ok}http tunnel maybe=1"; } >"$out/open-bad-answer"
{ header 3 63 "$T" 0 0; piece 0 2 0 'HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm="t"\r\n\r\n'; } \
  >"$out/open-401"
# With a user and password the GET channel asks again on a new connection.
{ header $((3 | 16)) 63 "$T" 0 0
  piece 0 2 0 'HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm="t"\r\n\r\n'
  piece 1 2 0 "$open_ok"; } >"$out/open-401-credentials"
{ header $((3 | 4)) 63 "$T" $((1 | 0 << 6)) 0; piece 0 2 0 "$open_ok"; } >"$out/open-then-queued-send"
{ header $((3 | 4 | 128)) 63 "$T" $((3 | 0 << 6)) 4; piece 0 2 0 "$open_ok"; } \
  >"$out/open-then-stalled-send"
{ header $((3 | 4)) 63 "$T" $((1 | 1 << 6)) 8; piece 0 2 0 "$open_ok"; piece 2 3 0 "$post_ok"; } \
  >"$out/open-then-request"
{ header $((3 | 4)) 63 "$T" $((1 | 2 << 6)) 8; piece 0 2 0 "$open_ok"; piece 2 3 0 "$post_ok"; } \
  >"$out/open-then-rtsp-request"
{ header $((3 | 4)) 63 "$T" $((2 | 3 << 6)) 12; piece 0 2 0 "$open_ok"; } >"$out/open-then-raw-send"
ls "$out" | wc -l
