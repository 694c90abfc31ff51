#!/usr/bin/env bash
# Installs what building and running need (scripts/packages/run.txt; no test
# tools) if needed, builds Portwick in Release mode and runs it with the given arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" run
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DPORTWICK_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build/release" --target portwick >&2
exec "$root/build/release/app/portwick" "$@"
