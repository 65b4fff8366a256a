#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build stripped into a staging directory (DESTDIR), checks what
# landed there, and builds C programs against it: one with pkg-config alone,
# and the embedding example in examples/ with find_package(namreg CONFIG).
#   check_install.sh <build dir> <this directory> <source dir>
set -euo pipefail
build=$1 here=$2 src=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/namreg --strip >/dev/null
root="$work/stage/opt/namreg"

test -x "$root/bin/namreg" || fail "bin/namreg missing"
readelf -S "$root/bin/namreg" | grep -q '\.symtab' && fail "bin/namreg is not stripped"
cmake -DPROGRAM="$root/bin/namreg" -DREADELF=readelf -P "$src/tests/program/check_libc_only.cmake"
test -x "$root/bin/ddnsupdate" || fail "bin/ddnsupdate missing"
cmake -DPROGRAM="$root/bin/ddnsupdate" -DREADELF=readelf -P "$src/tests/program/check_libc_only.cmake"
test -f "$root/lib/systemd/system/ddnsupdate.service" || fail "lib/systemd/system/ddnsupdate.service missing"

for part in ddnsclient httpclient netutility common osal; do
  test -f "$root/lib/libnamreg-$part.a" || fail "lib/libnamreg-$part.a missing"
done
for lib in "$root"/lib/*.a; do
  [[ $(basename "$lib") == libnamreg-* ]] || fail "installed library without the namreg prefix: $lib"
done
for header in common osal netutility httpclient ddnsclient version; do
  test -f "$root/include/namreg/$header.h" || fail "include/namreg/$header.h missing"
done
test -f "$root/lib/cmake/namreg/namregConfig.cmake" || fail "CMake package missing"
test -f "$root/share/doc/namreg/LICENSE" || fail "LICENSE missing"
# Every manual page of the source tree, in its section.
pages=0
for page in "$src"/man/*.[1-9]; do
  [[ -e $page ]] || continue
  name=$(basename "$page")
  test -f "$root/share/man/man${name##*.}/$name" || fail "manual page $name not installed"
  pages=$((pages + 1))
done
((pages > 0)) || fail "no manual page in man/"
echo "installed: programs, service unit, 5 libraries, headers, CMake package, pkg-config file, $pages manual page(s)"

# pkg-config: the libraries and what they need, -lpthread included, without --static.
export PKG_CONFIG_PATH="$root/lib/pkgconfig"
libs=$(pkg-config --libs namreg)
[[ " $libs " == *" -lpthread "* ]] || fail "pkg-config --libs lacks -lpthread: $libs"
cc -std=c11 -Wall -Wextra -Werror -o "$work/consumer" "$here/installed_consumer.c" \
   $(pkg-config --cflags namreg) $libs
"$work/consumer"

# find_package(namreg CONFIG): the embedding example as a project of its own.
cmake -S "$src/examples" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
      -DCMAKE_C_FLAGS="-Wall -Wextra -Werror -pedantic" >/dev/null
cmake --build "$work/example"
set +e
"$work/example/register_camera" >/dev/null 2>&1
usage_status=$?
"$work/example/register_camera" -c 127.0.0.1 not-a-mac cam.example.net 2>"$work/err.txt"
mac_status=$?
set -e
[[ $usage_status == 2 ]] || fail "example without arguments: status $usage_status, expected 2"
[[ $mac_status == 1 ]] || fail "example with an invalid MAC: status $mac_status, expected 1"
grep -q "0x80010003 (invalid MAC)" "$work/err.txt" || fail "example: $(cat "$work/err.txt")"
echo "example built with find_package(namreg CONFIG) and run"
