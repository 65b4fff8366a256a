#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The ddnsupdate service unit: systemd-analyze verify accepts it (with its
# ExecStart pointed at the built program and its manual pages on MANPATH),
# and it keeps the hardening it promises.
#   check_unit.sh <unit file> <built ddnsupdate> <man page directory>
set -euo pipefail
unit=$1 program=$2 man=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for line in "DynamicUser=yes" "CacheDirectory=ddnsupdate" "ProtectSystem=strict" "ProtectHome=yes" \
            "NoNewPrivileges=yes" "PrivateTmp=yes" "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX" \
            "CapabilityBoundingSet=" "SystemCallFilter=@system-service" \
            "ExecStart=/usr/bin/ddnsupdate -c /etc/ddnsupdate.conf --syslog"; do
  grep -qx "$line" "$unit" || fail "the unit lacks the line '$line'"
done

mkdir -p "$work/man/man1" "$work/man/man5"
cp "$man/ddnsupdate.1" "$work/man/man1/"
cp "$man/ddnsupdate.conf.5" "$work/man/man5/"
sed "s#^ExecStart=/usr/bin/ddnsupdate #ExecStart=$program #" "$unit" > "$work/ddnsupdate.service"
out=$(MANPATH="$work/man" systemd-analyze verify "$work/ddnsupdate.service" 2>&1) || fail "$out"
[[ -z $out ]] || fail "$out"
echo "ddnsupdate.service: systemd-analyze verify is content, the hardening is there"
