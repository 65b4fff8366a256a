#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders a manual page with every groff warning on and fails on any
# warning or error; then the same through man -l when man is installed.
set -euo pipefail
page=$1
out=$(groff -ww -z -man "$page" 2>&1) || { echo "$out"; exit 1; }
[[ -z $out ]] || { echo "$out"; exit 1; }
if command -v man >/dev/null; then
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || { echo "$out"; exit 1; }
  [[ -z $out ]] || { echo "$out"; exit 1; }
fi
echo "$(basename "$page"): no warnings"
