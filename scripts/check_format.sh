#!/usr/bin/env bash
# Fails when a C++ source differs from what .clang-format asks for.
# `scripts/check_format.sh --fix` rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cc' '*.h' '*.cpp' | grep -v '^build/')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
