#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every external symbol of the installed libraries is either declared in an
# installed header (the C interface) or lives in namespace namreg.  Also a
# host program with globals of the short names the libraries use inside
# (key, c, ...) links and keeps its own storage, even with -fcommon.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

# What the installed headers declare: functions (a name right before its
# parameter list) and extern variables.
{
  grep -rhoE '[A-Za-z_][A-Za-z0-9_]*\(' "$prefix/include" | tr -d '('
  grep -rhE '^[[:space:]]*extern[[:space:]]' "$prefix/include" | grep -v 'extern "C"' |
    grep -oE '[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(\[[^]]*\])?[[:space:]]*;' | grep -oE '^[A-Za-z_][A-Za-z0-9_]*'
} | sort -u >"$prefix/public.txt"

bad=0
for archive in "$prefix"/lib/*.a; do
  # Defined external symbols: "<type> <mangled name>".
  while read -r type name; do
    if grep -qxF "$name" "$prefix/public.txt"; then continue; fi
    # In namespace namreg: a nested name (functions, templates, members,
    # variables) or a special name (vtable, guard...) of one.
    if [[ $name =~ ^_Z(N|NK|[A-Z][A-Z]N)6namreg ]]; then continue; fi
    demangled=$(printf '%s\n' "$name" | c++filt)
    # Out-of-line copies of standard-library templates (weak, merged by the
    # linker) are not the libraries' own names.
    if [[ $type == [WV] && ($demangled == std::* || $demangled == __gnu_cxx::*) ]]; then
      continue
    fi
    echo "$(basename "$archive"): $type $demangled is neither public nor in namespace namreg"
    bad=1
  done < <(nm -g --defined-only "$archive" | awk 'NF == 3 { print $2, $3 }')
done
[[ $bad == 0 ]] || exit 1

# The cipher's process-wide state (schedule, key, initial S-boxes) has no
# external name at all, not even in namespace namreg.
if nm -g --defined-only "$prefix/lib/libnamreg-common.a" | c++filt |
   grep -E ' namreg::(c|key|keylen|ks[0-3])$'; then
  echo "libnamreg-common.a: the Blowfish state has external linkage"
  exit 1
fi

# A host program whose own globals carry those short names.
cat >"$prefix/host.c" <<'CODE'
#include <namreg/common.h>
int key;             /* tentative definitions: common symbols with -fcommon */
unsigned keylen;
int c;
const unsigned ks0[4] = {1, 2, 3, 4};
int main(void) {
  unsigned char block[8] = {0};
  Blowfish_SetKey((const unsigned char *)"camera-key", 10);
  Blowfish_Encrypt(block, block, 8);
  return (key == 0 && keylen == 0 && c == 0 && ks0[3] == 4) ? 0 : 1;
}
CODE
cc -std=c11 -fcommon -I"$prefix/include" -o "$prefix/host" "$prefix/host.c" -L"$prefix/lib" -lnamreg-common
"$prefix/host"
echo "symbols: only public or namreg:: names"
