#!/bin/bash
# SPDX-License-Identifier: MIT
# Footprint of namreg as shipped (preset release, MinSizeRel, stripped):
# size, run-time shared libraries, and for one register run against a local
# hldm-sim its peak RSS and CPU instructions (callgrind), each beside the
# same figure for /bin/true.  Runs as root: the register run happens in a
# private network and mount namespace (loopback only).
#
# usage: bench/footprint.sh [build-dir]     default build dir: build/release
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$src/bench/measure.sh"
build=${1:-$src/build/release}

. "$src/tools/build-targets.sh"

if [ "${NAMREG_FOOTPRINT_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "footprint.sh: run as root (private network namespace)" >&2; exit 1; }
  NAMREG_CONFIGURE_ARGS=(-DNAMREG_BUILD_TESTS=OFF -DNAMREG_BUILD_BENCH=OFF)
  namreg_build "$src" "$build" namreg hldm-sim
  NAMREG_FOOTPRINT_INSIDE=1 exec unshare --net --mount bash "${BASH_SOURCE[0]}" "$build"
fi

# ---- inside the namespace ----
mount --make-rprivate /
ip link set lo up
work=$(mktemp -d)
mount -t tmpfs footprint "$work"
printf 'nameserver 127.0.0.1\n' > "$work/resolv.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf

namreg="$work/namreg"
strip -o "$namreg" "$build/app/namreg"
true_bin=$(readlink -f /bin/true)

"$build/tools/hldm-sim/hldm-sim" --max-seconds 300 --change-window 0 > "$work/sim.log" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q listening "$work/sim.log" && break; sleep 0.1; done

register=("$namreg" -s 127.0.0.1 -r -k bench-key cam.bench.example owner@example.com)

# Peak RSS in KiB (GNU time), the median of five runs, and the exit status
# of the last run.
rss_and_status() {
  local out="$work/time.txt" status values=()
  for _ in 1 2 3 4 5; do
    set +e
    /usr/bin/time -f '%M' -o "$out" "$@" > /dev/null 2>&1
    status=$?
    set -e
    values+=("$(tail -n 1 "$out")")
  done
  echo "$(printf '%s\n' "${values[@]}" | sort -n | sed -n 3p) $status"
}

read -r rss_namreg status_namreg <<< "$(rss_and_status "${register[@]}")"
read -r rss_true _ <<< "$(rss_and_status "$true_bin")"
ir_namreg=$(instructions "${register[@]}")
ir_true=$(instructions "$true_bin")
size_namreg=$(stat -c %s "$namreg")
size_true=$(stat -c %s "$true_bin")

echo "namreg footprint ($(uname -m), $(basename "$build"), stripped)"
printf '  %-24s %12s %12s\n' "" "namreg" "/bin/true"
printf '  %-24s %12s %12s\n' "size (bytes)" "$size_namreg" "$size_true"
printf '  %-24s %12s %12s\n' "size (KiB)" "$((size_namreg / 1024))" "$((size_true / 1024))"
printf '  %-24s %12s %12s\n' "peak RSS (KiB, median/5)" "$rss_namreg" "$rss_true"
printf '  %-24s %12s %12s\n' "instructions" "$ir_namreg" "$ir_true"
echo "  register run exit status: $status_namreg ($(namreg_status_words register "$status_namreg"))"
echo "  shared libraries, namreg:"
ldd "$namreg" | sed 's/^/    /'
echo "  shared libraries, /bin/true:"
ldd "$true_bin" | sed 's/^/    /'
awk -v s="$size_namreg" -v a="$rss_namreg" -v b="$rss_true" 'BEGIN {
  printf "  goals: size <= 32 KiB: %s; peak RSS <= 1.5 x /bin/true (%.2f x): %s\n",
         (s <= 32 * 1024 ? "met" : "NOT met"), a / b, (a <= 1.5 * b ? "met" : "NOT met") }'
echo "  simulator saw:"
sed 's/^/    /' "$work/sim.log"
