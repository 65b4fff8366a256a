#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a C program against it
# with pkg-config alone.
set -euo pipefail
build=$1 source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/namreg"
# The installed program needs nothing at run time but libc.
cmake -DPROGRAM="$prefix/bin/namreg" -P "$source/check_libc_only.cmake"
test -x "$prefix/bin/ddnsupdate"
cmake -DPROGRAM="$prefix/bin/ddnsupdate" -P "$source/check_libc_only.cmake"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c11 -Wall -Wextra -Werror -o "$prefix/consumer" "$source/installed_consumer.c" \
   $(pkg-config --cflags --libs namreg)
"$prefix/consumer"
