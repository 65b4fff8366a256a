#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every libFuzzer target of a fuzz build for a fixed time each.
#   fuzz/run-fuzzers.sh <fuzz-build-dir> <seconds>
# The targets are the ones listed in <fuzz-build-dir>/fuzzers.txt; each starts
# from a scratch copy of its committed seed corpus fuzz/corpus/<name>/, so the
# committed corpus stays small.  Crash inputs go to
# <fuzz-build-dir>/fuzz-artifacts/.  Exits non-zero when any target crashes,
# leaks, times out or is missing.
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
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1; then
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' "$log" | tail -1
  else
    echo "== $name: FAILED (log $log)" >&2
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 >&2
    failed+=("$name")
  fi
  ran=$((ran + 1))
done <"$list"

if ((ran == 0 && ${#failed[@]} == 0)); then
  echo "no fuzz targets listed in $list" >&2
  exit 1
fi
if ((${#failed[@]})); then
  echo "fuzz failures: ${failed[*]}" >&2
  exit 1
fi
echo "all $ran fuzz targets ran ${seconds}s without a crash"
