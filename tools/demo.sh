#!/bin/bash
# SPDX-License-Identifier: MIT
# Registers a host name with namreg against a local HLDM DDNS simulator and
# checks it afterwards, all inside a private network and mount namespace:
# loopback only, a resolv.conf of its own, and a /dev/log that this script
# reads, so the outcome lines namreg writes to syslog can be shown.
#
# usage (as root): tools/demo.sh [build-dir]     default build dir: build/release
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$src/build/release}
host=${DEMO_HOST:-camera1.ddns.example}
email=${DEMO_EMAIL:-owner@example.com}
key=${DEMO_KEY:-demo-key}

. "$src/tools/build-targets.sh"

if [ "${NAMREG_DEMO_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "demo.sh: run as root (it makes a private network namespace)" >&2; exit 1; }
  bash "$src/tools/install-deps.sh" build
  NAMREG_CONFIGURE_ARGS=(-DNAMREG_BUILD_TESTS=OFF -DNAMREG_BUILD_BENCH=OFF)
  namreg_build "$src" "$build" namreg hldm-sim syslog-tap
  NAMREG_DEMO_INSIDE=1 exec unshare --net --mount bash "${BASH_SOURCE[0]}" "$build"
fi

# ---- inside the namespace ----
mount --make-rprivate /
ip link set lo up
work=$(mktemp -d)
mount -t tmpfs demo "$work"
printf 'nameserver 127.0.0.1\n' > "$work/resolv.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf
# A private /dev with the usual nodes and a log socket of our own.
mkdir "$work/dev"
for node in null zero random urandom tty; do
  touch "$work/dev/$node"
  mount --bind "/dev/$node" "$work/dev/$node"
done
mount --rbind "$work/dev" /dev

log="$work/syslog.txt"
"$build/tools/syslog-tap/syslog-tap" /dev/log > "$log" &
reader=$!
sim_log="$work/hldm-sim.txt"
"$build/tools/hldm-sim/hldm-sim" --address 127.0.0.1 --port 3495 --max-seconds 120 > "$sim_log" &
sim=$!
trap 'kill $reader $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q ready "$log" 2>/dev/null && grep -q listening "$sim_log" 2>/dev/null && break
  sleep 0.1
done

# run <operation> <namreg arguments...>: one namreg run, the syslog lines it
# wrote and its exit status, each with what it means.
run() {
  local op=$1 before status
  shift
  echo
  echo "\$ namreg $*"
  before=$(wc -l < "$log")
  set +e
  "$build/app/namreg" "$@" > /dev/null
  status=$?
  set -e
  sleep 0.2
  echo "syslog:"
  tail -n +$((before + 1)) "$log" | namreg_explain_syslog | sed 's/^/  /'
  echo "exit status: $status ($(namreg_status_words "$op" "$status"))"
}

run register -s 127.0.0.1 -r -k "$key" "$host" "$email"
run check -s 127.0.0.1 -c "$host" "$email"
echo
echo "== what the simulator saw"
cat "$sim_log"
