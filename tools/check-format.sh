#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails when any C or C++ source of the tree differs from the style in
# .clang-format.  Fix with: git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "format: every source follows .clang-format"
