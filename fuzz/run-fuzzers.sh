#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every libFuzzer target of a fuzz build for a fixed time each.
#   fuzz/run-fuzzers.sh <fuzz-build-dir> <seconds>
# The targets are the ones listed in <fuzz-build-dir>/fuzzers.txt; each starts
# from a scratch copy of its committed seed corpus fuzz/corpus/<name>/, so the
# committed corpus stays small.  Crash inputs and each target's log go to
# <fuzz-build-dir>/fuzz-artifacts/.
#
# Each target's coverage is recorded: edges (cov) and features (ft) that its
# seeds reach and that it reaches at the end, its executions, in a line per
# target and a table at the end (also fuzz-artifacts/coverage.txt).  A target
# that reaches fewer edges than its floor in fuzz/coverage-floor.txt (about
# nine tenths of what its seeds reach) fails: its harness or seeds no longer
# reach the code they were written for.
#
# Exits non-zero when any target crashes, leaks, times out, is missing or
# falls below its floor.
set -uo pipefail

if [[ $# -ne 2 || ! $2 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 <fuzz-build-dir> <seconds>" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
list="$build/fuzzers.txt"
if [[ ! -f $list ]]; then
  echo "no $list: configure with -DNAMREG_FUZZ=ON first" >&2
  exit 2
fi

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "cov ft corpus" of a libFuzzer status line (INITED or DONE).
coverage() {
  sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\).*/\1 \2 \3/p' | tail -1
}

floor_of() {
  [[ -f $here/coverage-floor.txt ]] || return 0
  awk -v n="$1" '$1 == n { print $2 }' "$here/coverage-floor.txt"
}

table="$artifacts/coverage.txt"
printf '%-18s %9s %7s %13s %13s %7s\n' target runs exec/s "cov seeds>end" "ft seeds>end" floor >"$table"
failed=()
ran=0
while IFS= read -r name; do
  [[ -z $name ]] && continue
  bin="$build/fuzz/$name"
  if [[ ! -x $bin ]]; then
    echo "== $name: not built ($bin)" >&2
    failed+=("$name (not built)")
    continue
  fi
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [[ -d $here/corpus/$name ]]; then
    cp -R "$here/corpus/$name/." "$corpus/"
  fi
  echo "== $name: ${seconds}s"
  log="$artifacts/$name.log"
  status=0
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1 || status=$?
  read -r cov0 ft0 _ < <(grep -E '^#[0-9]+[[:space:]]+INITED' "$log" | coverage)
  read -r cov1 ft1 corp1 < <(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | coverage)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  floor=$(floor_of "$name")
  printf '%-18s %9s %7s %13s %13s %7s%s\n' "$name" "${runs:-?}" "${rate:-?}" \
    "${cov0:-?}>${cov1:-?}" "${ft0:-?}>${ft1:-?}" "${floor:--}" \
    "$( ((status)) && echo "  FAILED")" >>"$table"
  if ((status)); then
    echo "== $name: FAILED (log $log)" >&2
    # The sanitizer's or libFuzzer's report, and the harness's own complaint.
    grep -E "ERROR|SUMMARY|Test unit written|^$name: |^fuzz target: " "$log" | head -6 >&2
    failed+=("$name")
  else
    echo "   ${runs:-?} runs (${rate:-?}/s), cov ${cov0:-?} -> ${cov1:-?}, ft ${ft0:-?} -> ${ft1:-?}," \
      "corpus ${corp1:-?}${floor:+, floor $floor}"
    if [[ -n $floor && ( -z $cov1 || $cov1 -lt $floor ) ]]; then
      echo "== $name: reaches ${cov1:-no} edges, below its floor of $floor (fuzz/coverage-floor.txt)" >&2
      failed+=("$name (coverage ${cov1:-unknown} < $floor)")
    fi
  fi
  ran=$((ran + 1))
done <"$list"

if ((ran == 0 && ${#failed[@]} == 0)); then
  echo "no fuzz targets listed in $list" >&2
  exit 1
fi
echo "== coverage"
cat "$table"
if ((${#failed[@]})); then
  echo "fuzz failures: ${failed[*]}" >&2
  exit 1
fi
echo "all $ran fuzz targets ran ${seconds}s without a crash, each above its coverage floor"
