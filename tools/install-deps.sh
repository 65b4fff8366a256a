#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages a task needs, when any is missing.
#   install-deps.sh build   compilers and CMake (what the demo needs)
#   install-deps.sh test    everything the test suite, fuzzers and benchmarks need
# mbedTLS comes for the host (the TLS layer of the HTTP client) and, in the
# test set, for armhf through Debian multiarch (the armhf TLS build check).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config iproute2 util-linux time libinih-dev libmbedtls-dev)
if [[ ${1:-build} == test ]]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev        # tests and benchmarks
    clang libclang-rt-14-dev                          # libFuzzer targets
    libssl-dev libcurl4-openssl-dev                   # test oracle, benchmark peer
    bind9 bind9-dnsutils apache2 squid                # the test world's peers
    valgrind                                          # instruction counts (bench)
    clang-format                                      # the style check
    g++-arm-linux-gnueabihf g++-aarch64-linux-gnu     # cross builds
    g++-mipsel-linux-gnu qemu-user googletest         # ... run under qemu, GoogleTest built for them
    groff-base man-db                                 # the manual page check
    systemd                                           # systemd-analyze verify of the service unit
    openssl                                           # test certificates, made at test time
    libmbedtls-dev:armhf                              # the armhf TLS build check
  )
fi

# armhf packages come through multiarch: the architecture is added (and the
# package lists read again by the install below) before anything of it is
# installed.
for p in "${packages[@]}"; do
  [[ $p == *:* ]] || continue
  arch=${p#*:}
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    if [[ $(id -u) -ne 0 ]]; then
      echo "architecture $arch missing (add it as root: dpkg --add-architecture $arch)" >&2
      exit 1
    fi
    echo "== adding architecture $arch"
    dpkg --add-architecture "$arch"
  fi
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages (install as root): ${missing[*]}" >&2
  exit 1
fi
echo "== installing: ${missing[*]}"
apt-get update -q
# The tests start their servers themselves: keep the packages' own services
# from starting.
policy=/usr/sbin/policy-rc.d
[[ -e $policy ]] || { printf '#!/bin/sh\nexit 101\n' > "$policy" && chmod +x "$policy" && trap 'rm -f "$policy"' EXIT; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
