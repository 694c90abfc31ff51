#!/usr/bin/env bash
# Writes PNG pictures of the main window (first size and 200 pixels wider) and
# of the About box into OUTDIR, building what is needed first.
#   scripts/screenshot.sh OUTDIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "$1" && cd "$1" && pwd)"
build="$root/build/screenshot"
"$root/scripts/setup.sh" run test
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target portwick_ui_screenshot >&2
QT_QPA_PLATFORM=offscreen "$build/tests/ui/portwick_ui_screenshot" "$out"
