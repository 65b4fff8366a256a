# SPDX-License-Identifier: MIT
# Sourced by the ddnsupdate demo and benchmark, inside a private network and
# mount namespace: loopback up, a resolv.conf of its own, BIND named on
# 127.0.0.1:53 answering the DynDNS host names (and the demo host name) with
# 127.0.0.1, and provider-sim on its usual loopback ports.
#
#   start_provider_world BUILD WORK [provider-sim options...]
# leaves PROVIDER_SIM_LOG, and stops everything when the shell exits.
start_provider_world() {
  local build=$1 work=$2
  shift 2
  mount --make-rprivate /
  ip link set lo up
  mount -t tmpfs provider-world "$work"
  printf 'nameserver 127.0.0.1\n' > "$work/resolv.conf"
  mount --bind "$work/resolv.conf" /etc/resolv.conf

  mkdir -p "$work/named"
  cat > "$work/named/dyndns.org.zone" <<ZONE
\$ORIGIN dyndns.org.
\$TTL 60
@ IN SOA ns.dyndns.org. admin.dyndns.org. 1 3600 600 86400 60
@ IN NS ns.dyndns.org.
ns IN A 127.0.0.1
checkip IN A 127.0.0.1
members IN A 127.0.0.1
ZONE
  cat > "$work/named/named.conf" <<CONF
options {
  directory "$work/named";
  pid-file "$work/named/named.pid";
  session-keyfile "$work/named/session.key";
  managed-keys-directory "$work/named";
  listen-on port 53 { 127.0.0.1; };
  listen-on-v6 { none; };
  recursion no;
  dnssec-validation no;
  notify no;
};
controls { };
zone "dyndns.org" { type primary; file "$work/named/dyndns.org.zone"; };
CONF
  chmod -R a+rwX "$work/named"
  named -g -4 -c "$work/named/named.conf" > "$work/named/log.txt" 2>&1 &
  PROVIDER_WORLD_PIDS=$!
  PROVIDER_SIM_LOG="$work/provider-sim.txt"
  "$build/tools/provider-sim/provider-sim" --max-seconds 600 "$@" > "$PROVIDER_SIM_LOG" 2>&1 &
  PROVIDER_WORLD_PIDS="$PROVIDER_WORLD_PIDS $!"
  trap 'kill $PROVIDER_WORLD_PIDS 2>/dev/null || true' EXIT
  for _ in $(seq 100); do
    grep -q "running\|all done\|loaded serial" "$work/named/log.txt" 2>/dev/null &&
      grep -q . "$PROVIDER_SIM_LOG" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "provider world: named or provider-sim did not start" >&2
  cat "$work/named/log.txt" "$PROVIDER_SIM_LOG" >&2
  return 1
}
