#!/usr/bin/env bash
# Writes PNG pictures of the main window (first size and 200 pixels wider), of
# the About box and of the Sessions window with a few real sessions (an
# HTTP-like one as text, a binary one in hex, a refused connect) into OUTDIR,
# building what is needed first. Without OUTDIR it renews the pictures the
# README shows, in docs/.
#   scripts/screenshot.sh [OUTDIR]
set -euo pipefail
if [ $# -gt 1 ]; then
  echo "usage: $0 [OUTDIR]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:-$root/docs}"
out="$(mkdir -p "$target" && cd "$target" && pwd)"
build="$root/build/screenshot"
"$root/scripts/setup.sh" run test
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target portwick_ui_screenshot >&2
QT_QPA_PLATFORM=offscreen "$build/tests/ui/portwick_ui_screenshot" "$out"
