#!/bin/bash
# SPDX-License-Identifier: MIT
# Keeps a host name current with a dyndns2 provider, against provider-sim:
# ddnsupdate --once three times (a good update, a refused password, and the
# same update again), showing its outcome line, its exit status and the
# requests the simulator saw.  Everything runs inside a private network and
# mount namespace (loopback only, BIND named answering the provider's host
# names), so nothing leaves the machine.
#
# usage (as root): tools/ddnsupdate-demo.sh [build-dir]   default: build/release
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$src/build/release}

if [ "${NAMREG_DDNSUPDATE_DEMO_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "ddnsupdate-demo.sh: run as root (private network namespace)" >&2; exit 1; }
  if [ ! -x "$build/ddnsupdate/ddnsupdate" ] || [ ! -x "$build/tools/provider-sim/provider-sim" ] ||
     ! command -v named > /dev/null; then
    bash "$src/tools/install-deps.sh" build
    command -v named > /dev/null || apt-get install -y -qq bind9 > /dev/null
    echo "== building ddnsupdate and provider-sim in $build"
    if [ "$build" = "$src/build/release" ]; then
      (cd "$src" && cmake --preset release > /dev/null)
    else
      cmake -S "$src" -B "$build" -G Ninja > /dev/null
    fi
    cmake --build "$build" --target ddnsupdate provider-sim -j2 > /dev/null
  fi
  NAMREG_DDNSUPDATE_DEMO_INSIDE=1 exec unshare --net --mount bash "${BASH_SOURCE[0]}" "$build"
fi

# ---- inside the namespace ----
. "$src/tools/provider-world.sh"
work=$(mktemp -d)
start_provider_world "$build" "$work" --ip 203.0.113.9 --basic camuser:s3cret

printf 's3cret\n' > "$work/password"
chmod 600 "$work/password"
printf 'wrong\n' > "$work/wrong"
run() {
  echo "\$ ddnsupdate $*"
  set +e
  "$build/ddnsupdate/ddnsupdate" "$@" > /dev/null
  echo "  exit status $?"
  set -e
}
common=(-p dyndns -n cam.example.net -u camuser -t 10 --once --no-tls)
run "${common[@]}" -W "$work/password"
run "${common[@]}" -W "$work/wrong"
run "${common[@]}" -W "$work/password"

echo
echo "== what provider-sim saw"
grep -v listening "$PROVIDER_SIM_LOG"
