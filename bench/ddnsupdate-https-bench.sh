#!/bin/bash
# SPDX-License-Identifier: MIT
# One HTTPS update by `ddnsupdate --once` (the check-IP page and the
# authenticated update, both over HTTPS: a dyndns2 server on port 443 and an
# https:// address page) against provider-sim's TLS port, beside curl doing
# the same two HTTPS GETs in one process, in a private network namespace
# with a CA made by openssl for the run: stripped sizes of ddnsupdate with
# and without TLS, peak RSS (median of five runs) and CPU instructions of
# the whole process (callgrind).  Goal: at most 1/5 of curl's instructions
# and 1/2 of its peak RSS.
#
# usage (as root): bench/ddnsupdate-https-bench.sh [build-with-tls] [build-without-tls]
#        defaults: build/release and build/notls (configured with NAMREG_TLS=OFF)
#        BENCH_KEY=rsa: RSA-2048 keys for the CA and the server instead of
#        P-256 (ECDSA signatures cost mbedTLS far more than RSA ones)
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$src/bench/measure.sh"
with=${1:-$src/build/release}
without=${2:-$src/build/notls}

. "$src/tools/build-targets.sh"

if [ "${NAMREG_HTTPS_BENCH_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "ddnsupdate-https-bench.sh: run as root (private network namespace)" >&2; exit 1; }
  namreg_build "$src" "$with" ddnsupdate provider-sim
  NAMREG_CONFIGURE_ARGS=(-DNAMREG_TLS=OFF -DNAMREG_BUILD_BENCH=OFF)
  namreg_build "$src" "$without" ddnsupdate
  NAMREG_HTTPS_BENCH_INSIDE=1 exec unshare --net --mount bash "${BASH_SOURCE[0]}" "$with" "$without"
fi

# ---- inside the namespace ----
. "$src/tools/provider-world.sh"
work=$(mktemp -d)
pki=$(mktemp -d)
trap 'rm -rf "$pki"' EXIT

# A CA and a server certificate for both provider hosts.
if [ "${BENCH_KEY:-ec}" = rsa ]; then
  key=(-newkey rsa:2048)
else
  key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1)
fi
echo "keys: ${BENCH_KEY:-ec}"
openssl req -x509 "${key[@]}" -nodes -days 2 \
  -subj /CN=bench-ca -keyout "$pki/ca.key" -out "$pki/ca.pem" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2> /dev/null
openssl req "${key[@]}" -nodes -subj /CN=members.dyndns.org \
  -keyout "$pki/server.key" -out "$pki/server.csr" 2> /dev/null
printf '%s\n' 'subjectAltName=DNS:members.dyndns.org,DNS:checkip.dyndns.org' \
  'extendedKeyUsage=serverAuth' 'keyUsage=critical,digitalSignature' \
  'basicConstraints=critical,CA:FALSE' > "$pki/server.ext"
openssl x509 -req -in "$pki/server.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
  -days 2 -extfile "$pki/server.ext" -out "$pki/server.pem" 2> /dev/null

start_provider_world "$with" "$work" --ip 203.0.113.9 --basic camuser:s3cret \
  --tls-ports 443 --cert "$pki/server.pem" --key "$pki/server.key"
printf 's3cret\n' > "$work/password"
chmod 600 "$work/password"

ddnsupdate="$work/ddnsupdate"
strip -o "$ddnsupdate" "$with/ddnsupdate/ddnsupdate"
strip -o "$work/ddnsupdate-notls" "$without/ddnsupdate/ddnsupdate"
curl_bin=$(readlink -f "$(command -v curl)")

ours=("$ddnsupdate" -p dyndns2 -s members.dyndns.org --port 443 -n cam.example.net -u camuser
      -W "$work/password" --address url:https://checkip.dyndns.org/ --ca-file "$pki/ca.pem"
      -t 10 --once)
theirs=("$curl_bin" -s -o /dev/null --cacert "$pki/ca.pem" "https://checkip.dyndns.org/"
        --next -s -o /dev/null --cacert "$pki/ca.pem" -u camuser:s3cret
        "https://members.dyndns.org/nic/update?hostname=cam.example.net&myip=203.0.113.9")


"${ours[@]}" > /dev/null 2> "$work/outcome.txt" || true
echo "ddnsupdate outcome: $(cat "$work/outcome.txt")"
"${theirs[@]}"
echo "curl: both HTTPS GETs done (status $?)"
echo
echo "stripped ddnsupdate: $(stat -c %s "$ddnsupdate") B with TLS," \
     "$(stat -c %s "$work/ddnsupdate-notls") B without"
our_rss=$(peak_rss "${ours[@]}")
their_rss=$(peak_rss "${theirs[@]}")
our_count=$(instructions "${ours[@]}")
their_count=$(instructions "${theirs[@]}")
printf '%-12s %10s %16s\n' program "peak RSS" instructions
printf '%-12s %6s KiB %16s\n' ddnsupdate "$our_rss" "$our_count" curl "$their_rss" "$their_count"
awk -v a="$our_count" -v b="$their_count" -v r="$our_rss" -v s="$their_rss" 'BEGIN {
  gsub(",", "", a); gsub(",", "", b);
  printf "ddnsupdate / curl: instructions %.3f (goal <= 0.2), peak RSS %.3f (goal <= 0.5)\n", a / b, r / s }'
echo
echo "provider-sim saw:"
grep -v listening "$PROVIDER_SIM_LOG" | sed 's/^/  /'
