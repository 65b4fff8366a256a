#!/bin/bash
# SPDX-License-Identifier: MIT
# One `ddnsupdate --once` of a dyndns2 provider (check-IP GET, then the
# authenticated update GET) against provider-sim, beside curl doing the same
# two GETs in one process, in the same private network namespace: stripped
# size, run-time shared libraries, peak RSS (median of five runs) and CPU
# instructions of the whole process (callgrind).
#
# usage (as root): bench/ddnsupdate-bench.sh [build-dir]   default: build/release
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$src/build/release}

if [ "${NAMREG_DDNSUPDATE_BENCH_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "ddnsupdate-bench.sh: run as root (private network namespace)" >&2; exit 1; }
  if [ "$build" = "$src/build/release" ]; then
    (cd "$src" && cmake --preset release > /dev/null)
  fi
  cmake --build "$build" --target ddnsupdate provider-sim -j2 > /dev/null
  NAMREG_DDNSUPDATE_BENCH_INSIDE=1 exec unshare --net --mount bash "${BASH_SOURCE[0]}" "$build"
fi

# ---- inside the namespace ----
. "$src/tools/provider-world.sh"
work=$(mktemp -d)
start_provider_world "$build" "$work" --ip 203.0.113.9 --basic camuser:s3cret
printf 's3cret\n' > "$work/password"

ddnsupdate="$work/ddnsupdate"
strip -o "$ddnsupdate" "$build/ddnsupdate/ddnsupdate"
curl_bin=$(readlink -f "$(command -v curl)")

ours=("$ddnsupdate" -p dyndns -n cam.example.net -u camuser -W "$work/password" -t 10 --once)
theirs=("$curl_bin" -s -o /dev/null "http://checkip.dyndns.org:8245/" --next -s -o /dev/null
        -u camuser:s3cret "http://members.dyndns.org:8245/nic/update?system=dyndns&hostname=cam.example.net&myip=203.0.113.9")

peak_rss() {
  local out="$work/time.txt" values=()
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f '%M' -o "$out" "$@" > /dev/null 2>&1 || true
    values+=("$(tail -n 1 "$out")")
  done
  printf '%s\n' "${values[@]}" | sort -n | sed -n 3p
}
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : //p'
}
libraries() {
  ldd "$1" | awk '$1 !~ /linux-vdso|ld-linux/ {print $1}' | tr '\n' ' '
}
lib_bytes() {
  local total=0 f
  for f in $(ldd "$1" | awk '$3 ~ /^\// {print $3}'); do
    total=$((total + $(stat -Lc %s "$f")))
  done
  echo "$total"
}

"${ours[@]}" > /dev/null 2> "$work/outcome.txt" || true
echo "ddnsupdate outcome: $(cat "$work/outcome.txt")"
"${theirs[@]}"
echo "curl: both GETs done (status $?)"
echo
printf '%-12s %12s %14s %10s %14s  %s\n' program "size (B)" "libs size (B)" "peak RSS" instructions libraries
for name in ddnsupdate curl; do
  if [ "$name" = ddnsupdate ]; then cmd=("${ours[@]}"); bin=$ddnsupdate; else cmd=("${theirs[@]}"); bin=$curl_bin; fi
  printf '%-12s %12s %14s %7s KiB %14s  %s\n' "$name" "$(stat -c %s "$bin")" "$(lib_bytes "$bin")" \
    "$(peak_rss "${cmd[@]}")" "$(instructions "${cmd[@]}")" "$(libraries "$bin")"
done
echo
echo "provider-sim saw $(grep -c '" host=' "$PROVIDER_SIM_LOG") requests"
