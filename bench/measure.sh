# SPDX-License-Identifier: MIT
# Sourced by the benchmark scripts: the measurements they share.
#   peak_rss CMD...      peak RSS in KiB (GNU time), the median of five runs
#   instructions CMD...  instructions executed (callgrind's "Collected" total)
# The command's output and exit status are ignored.
peak_rss() {
  local out values=()
  out=$(mktemp)
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f '%M' -o "$out" "$@" > /dev/null 2>&1 || true
    values+=("$(tail -n 1 "$out")")
  done
  rm -f "$out"
  printf '%s\n' "${values[@]}" | sort -n | sed -n 3p
}
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : //p'
}
