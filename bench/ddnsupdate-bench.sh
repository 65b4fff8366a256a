#!/bin/bash
# SPDX-License-Identifier: MIT
# One `ddnsupdate --once` of a dyndns2 provider (check-IP GET, then the
# authenticated update GET) against provider-sim, beside curl doing the same
# two GETs in one process, in the same private network namespace: stripped
# size, run-time shared libraries, peak RSS (median of five runs) and CPU
# instructions of the whole process (callgrind).  Then the same for one
# --once of a config file of three hosts (goal: at most three times the one
# host's instructions), and a soak of 1,000 rounds of the daemon against
# provider-sim (a minute of the schedule made 2 ms long by the test option),
# with its RSS and open descriptors after 100 rounds and at the end (goal:
# no RSS growth beyond 4 KiB, no descriptor growth).
#
# usage (as root): bench/ddnsupdate-bench.sh [build-dir]   default: build/release
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$src/bench/measure.sh"
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
chmod 600 "$work/password"

ddnsupdate="$work/ddnsupdate"
strip -o "$ddnsupdate" "$build/ddnsupdate/ddnsupdate"
curl_bin=$(readlink -f "$(command -v curl)")

ours=("$ddnsupdate" -p dyndns -n cam.example.net -u camuser -W "$work/password" -t 10 --once --no-tls)
theirs=("$curl_bin" -s -o /dev/null "http://checkip.dyndns.org:8245/" --next -s -o /dev/null
        -u camuser:s3cret "http://members.dyndns.org:8245/nic/update?system=dyndns&hostname=cam.example.net&myip=203.0.113.9")

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

# ---- three hosts of a config file, one --once ----
mkdir -p "$work/cache"
{
  printf '[global]\ncache-dir = %s\ntls = no\n' "$work/cache"
  for n in 1 2 3; do
    printf '[cam%s]\nprovider = dyndns\nhost = cam%s.example.net\nuser = camuser\npassword-file = %s\n' \
      "$n" "$n" "$work/password"
  done
} > "$work/three.conf"
chmod 600 "$work/three.conf"
three=("$ddnsupdate" -c "$work/three.conf" -t 10 --once)
rm -f "$work/cache"/*
"${three[@]}" > /dev/null 2> "$work/outcome3.txt" || true
echo
echo "three hosts, one round each:"
sed 's/^/  /' "$work/outcome3.txt"
one_count=$(instructions "${ours[@]}")
rm -f "$work/cache"/*
three_count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "${three[@]}" 2>&1 >/dev/null |
              sed -n 's/.*Collected : //p')
rm -f "$work/cache"/*
three_rss=$(peak_rss "${three[@]}")
printf 'one host:    %12s instructions\n' "$one_count"
printf 'three hosts: %12s instructions (%s x one host; goal <= 3), peak RSS %s KiB\n' "$three_count" \
  "$(awk -v a="$three_count" -v b="$one_count" 'BEGIN { printf "%.2f", a / b }')" "$three_rss"

# ---- soak: 1,000 rounds of the daemon ----
printf '[global]\ncache-dir = %s\ntls = no\n[soak]\nprovider = dyndns\nhost = soak.example.net\nuser = camuser\npassword-file = %s\ninterval = 10\n' \
  "$work/cache" "$work/password" > "$work/soak.conf"
chmod 600 "$work/soak.conf"
"$ddnsupdate" -c "$work/soak.conf" -t 10 --test-minute-ms 2 --test-rounds 1000 2> "$work/soak.txt" &
soak_pid=$!
first="" last=""
while kill -0 "$soak_pid" 2>/dev/null; do
  rounds=$(grep -c 'ddnsupdate: dyndns soak' "$work/soak.txt" || true)
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$soak_pid/status" 2>/dev/null || true)
  fds=$( (ls "/proc/$soak_pid/fd" 2>/dev/null || true) | wc -l)
  if [ -n "$rss" ] && [ "$fds" -gt 0 ]; then
    [ -z "$first" ] && [ "$rounds" -ge 100 ] && first="$rounds $rss $fds"
    last="$rounds $rss $fds"
  fi
  sleep 0.005
done
wait "$soak_pid" || true
read -r r1 rss1 fd1 <<< "$first"
read -r r2 rss2 fd2 <<< "$last"
echo
echo "soak: $(grep -c 'ddnsupdate: dyndns soak' "$work/soak.txt") rounds" \
     "($(grep -c ': updated' "$work/soak.txt") updated, $(grep -c ': unchanged' "$work/soak.txt") unchanged)"
echo "  after $r1 rounds: RSS $rss1 KiB, $fd1 descriptors"
echo "  after $r2 rounds: RSS $rss2 KiB, $fd2 descriptors"
echo "  growth: RSS $((rss2 - rss1)) KiB (goal <= 4), descriptors $((fd2 - fd1)) (goal 0)"

echo
echo "provider-sim saw $(grep -c '" host=' "$PROVIDER_SIM_LOG") requests"
