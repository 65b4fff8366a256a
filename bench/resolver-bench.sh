#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The stub resolver against getaddrinfo, one A lookup each, against a named
# of its own in a private network and mount namespace (run as root).
#   bench/resolver-bench.sh <build-dir> [lookups-under-callgrind]
# Prints Google Benchmark's wall times, then the CPU instructions per lookup
# of both (valgrind --tool=callgrind) and the ratios.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 <build-dir> [lookups]" >&2
  exit 2
fi
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
lookups=${2:-500}
bin="$build/bench/resolver_bench"

if [[ -z ${NAMREG_RESOLVER_BENCH_INSIDE:-} ]]; then
  . "$src/tools/build-targets.sh"
  NAMREG_CONFIGURE_ARGS=(-DNAMREG_BUILD_TESTS=OFF)
  namreg_build "$src" "$build" resolver_bench
  [[ -x $bin ]] || { echo "resolver_bench was not built (Google Benchmark missing?)" >&2; exit 2; }
  exec unshare --net --mount env NAMREG_RESOLVER_BENCH_INSIDE=1 "$0" "$@"
fi

for tool in named valgrind callgrind_annotate ip; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
mount --make-rprivate /
ip link set lo up
work=$(mktemp -d)
named_pid=
cleanup() {
  [[ -n $named_pid ]] && kill "$named_pid" 2>/dev/null && wait "$named_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# getaddrinfo asks 127.0.0.1 through the system's ordinary path: hosts file,
# then DNS.
printf 'nameserver 127.0.0.1\n' >"$work/resolv.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf
printf 'hosts: files dns\n' >"$work/nsswitch.conf"
mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf

cat >"$work/named.conf" <<CONF
options {
  directory "$work";
  pid-file "$work/named.pid";
  session-keyfile "$work/session.key";
  managed-keys-directory "$work";
  listen-on port 53 { 127.0.0.1; };
  listen-on-v6 { none; };
  recursion no;
  dnssec-validation no;
  notify no;
};
controls { };
zone "bench.test" { type primary; file "$work/bench.test.zone"; };
CONF
cat >"$work/bench.test.zone" <<ZONE
\$ORIGIN bench.test.
\$TTL 60
@ IN SOA ns.bench.test. admin.bench.test. 1 3600 600 86400 60
@ IN NS ns
ns IN A 127.0.0.1
www IN A 192.0.2.10
ZONE
named -g -4 -c "$work/named.conf" >"$work/named.log" 2>&1 &
named_pid=$!
for _ in $(seq 100); do
  if dig @127.0.0.1 +short +time=1 +tries=1 www.bench.test A 2>/dev/null | grep -q 192.0.2.10; then
    break
  fi
  sleep 0.1
done
dig @127.0.0.1 +short +time=1 +tries=1 www.bench.test A | grep -q 192.0.2.10 ||
  { echo "named did not come up:" >&2; tail "$work/named.log" >&2; exit 1; }

echo "== wall time (Google Benchmark)"
"$bin" --benchmark_min_time=2 --benchmark_format=console | tee "$work/wall.txt"

echo "== CPU instructions ($lookups lookups each, callgrind)"
valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$bin" --loops "$lookups" \
  2>"$work/valgrind.log"
callgrind_annotate --inclusive=yes "$work/callgrind.out" >"$work/annotate.txt"
ir_of() { awk -v f="$1" '$0 ~ f { gsub(",", "", $1); print $1; exit }' "$work/annotate.txt"; }
ours=$(ir_of BenchLoopOurs)
theirs=$(ir_of BenchLoopGetaddrinfo)
[[ -n $ours && -n $theirs ]] || { echo "callgrind gave no figures" >&2; exit 1; }
wall_ours=$(awk '/^BM_NetUtilityDNSResolve/ { print $2; exit }' "$work/wall.txt")
wall_theirs=$(awk '/^BM_Getaddrinfo/ { print $2; exit }' "$work/wall.txt")
awk -v o="$ours" -v t="$theirs" -v n="$lookups" -v wo="$wall_ours" -v wt="$wall_theirs" 'BEGIN {
  printf "instructions per lookup: NetUtility_DNSResolve %.0f, getaddrinfo %.0f, ratio %.3f\n",
         o / n, t / n, o / t
  printf "wall time per lookup:    NetUtility_DNSResolve %s ns, getaddrinfo %s ns, ratio %.3f\n",
         wo, wt, wo / wt
}'
