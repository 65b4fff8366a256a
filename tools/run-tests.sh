#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test of the project: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the armhf cross build
# with its unit tests under qemu-arm, the armhf build of the HTTP client
# with TLS, the aarch64 and mipsel cross builds with their program checks
# under qemu-aarch64 / qemu-mipsel, and the fuzz targets.  As root on
# Debian 12 it first installs the packages the tests need.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-10}"
JOBS="${JOBS:-2}"
started=$SECONDS

bash tools/install-deps.sh test

status=0
summaries=()
if bash tools/check-format.sh; then
  summaries+=("format: clean")
else
  summaries+=("format: FAILED")
  status=1
fi

total_pass=0 total_fail=0 total_skip=0
run_suite() {
  local preset=$1 t0=$SECONDS
  echo "== build: $preset"
  # set -e does not hold inside a function called from "||": check each step.
  cmake --preset "$preset" >/dev/null || return 1
  if ! cmake --build --preset "$preset" -j "$JOBS"; then
    summaries+=("$preset: BUILD FAILED")
    return 1
  fi
  echo "== test: $preset"
  local log="build/$preset/ctest.log" rc=0
  ctest --preset "$preset" -j 8 2>&1 | tee "$log" || rc=$?
  local line skipped size
  line=$(grep -E '^[0-9]+% tests passed' "$log" | tail -1 || true)
  size=$(ctest --preset "$preset" -R '^program_namreg_stripped_size$' -V 2>/dev/null |
         sed -n 's/.*-- \(namreg (.*goal.*\)$/\1/p' | head -1 || true)
  summaries+=("$preset: ${line:-no summary} ($((SECONDS - t0)) s)${size:+; $size}")
  skipped=$(grep -c '(Skipped)' "$log" || true)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    total_fail=$((total_fail + BASH_REMATCH[1]))
    total_skip=$((total_skip + skipped))
    total_pass=$((total_pass + BASH_REMATCH[2] - BASH_REMATCH[1] - skipped))
  else
    rc=1
  fi
  return $rc
}

run_suite release || status=1
run_suite asan || status=1
run_suite armhf || status=1

# TLS for armhf (mbedTLS for armhf through multiarch): the HTTP client
# library and tls_probe, a program over its TLS layer, are built, and the
# probe fetches one page under qemu-arm from openssl s_server with a
# certificate made here, in a network namespace of its own.  The TLS tests
# themselves run in the host builds.
armhf_tls_handshake() {
  local work out probe=$PWD/build/armhf-tls/tests/tls/tls_probe
  work=$(mktemp -d)
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
      -keyout "$work/key.pem" -out "$work/cert.pem" -subj /CN=127.0.0.1 \
      -addext subjectAltName=IP:127.0.0.1 -addext extendedKeyUsage=serverAuth 2>/dev/null
  out=$(cd "$work" && unshare -n bash -c '
    ip link set lo up
    openssl s_server -accept 127.0.0.1:8449 -cert cert.pem -key key.pem -www -quiet &
    server=$!
    for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8449) 2>/dev/null && break; sleep 0.1; done
    qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/lib "$1" cert.pem 127.0.0.1 / 8449
    kill $server' _ "$probe" 2>&1) || true
  rm -rf "$work"
  echo "$out"
  [[ $out == *"port 8449: result 0x00000000"* ]]
}
echo "== build: armhf-tls"
tls_t0=$SECONDS
if ! cmake --preset armhf-tls >/dev/null || ! cmake --build --preset armhf-tls -j "$JOBS"; then
  summaries+=("armhf-tls: BUILD FAILED")
  status=1
elif armhf_tls_handshake; then
  summaries+=("armhf-tls: HTTP client with TLS built, one HTTPS fetch under qemu-arm ($((SECONDS - tls_t0)) s)")
else
  summaries+=("armhf-tls: built, but the HTTPS fetch under qemu-arm FAILED")
  status=1
fi

for preset in aarch64 mipsel; do
  run_suite "$preset" || status=1
done

echo "== fuzz: ${FUZZ_SECONDS}s per target"
fuzz_t0=$SECONDS
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$JOBS" &&
   bash fuzz/run-fuzzers.sh build/fuzz "$FUZZ_SECONDS"; then
  summaries+=("fuzz: no crash ($((SECONDS - fuzz_t0)) s)")
else
  summaries+=("fuzz: FAILED")
  status=1
fi

echo "== summary"
printf '%s\n' "${summaries[@]}"
echo "total: $total_pass passed, $total_fail failed, $total_skip skipped"
echo "time: $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
exit $status
