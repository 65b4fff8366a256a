#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A firmware tree that adds the source tree with add_subdirectory, beside a
# target of its own named "common", and sets the default server: it must
# configure without clashes, build none of the tests, tools or benchmarks,
# and its namreg must name that server.
#   check_subdirectory.sh <source dir> <work dir>
set -euo pipefail
src=$1 work=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/firmware"
cat >"$work/firmware/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(firmware LANGUAGES C CXX)
add_library(common STATIC common.c)
add_subdirectory("$src" namreg)
foreach(t namreg_testsupport hldm-sim syslog-tap primitives_bench resolver_bench)
  if(TARGET \${t})
    message(FATAL_ERROR "\${t} is built in a firmware tree")
  endif()
endforeach()
add_executable(camera_app "$src/examples/register_camera.c")
target_link_libraries(camera_app PRIVATE namreg::namreg common)
CMAKE
echo 'int firmware_common_version(void) { return 1; }' >"$work/firmware/common.c"

cmake -S "$work/firmware" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DNAMREG_DEFAULT_SERVER=ddns.firmware.example >"$work/configure.log" ||
  { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/build" --target camera_app namreg common -j2 >"$work/build.log" ||
  { cat "$work/build.log"; fail "build"; }
set +e
"$work/build/namreg/app/namreg" -h >"$work/usage.txt"
status=$?
set -e
[[ $status == 1 ]] || fail "namreg -h: status $status, expected 1"
grep -qxF "          (ddns.firmware.example for HLDM now). " "$work/usage.txt" ||
  fail "namreg -h does not name the configured server: $(cat "$work/usage.txt")"
test -f "$work/build/libcommon.a" || fail "the firmware's own libcommon.a is missing"
echo "add_subdirectory build: no clash, default server ddns.firmware.example"
