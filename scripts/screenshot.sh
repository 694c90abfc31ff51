#!/usr/bin/env bash
# Writes PNG pictures of the main window (first size and 200 pixels wider), of
# the About box and of the Sessions window with a few real sessions (an
# HTTP-like one as text, a binary one in hex, a refused connect) into OUTDIR,
# building what is needed first. Without OUTDIR it renews the pictures the
# README shows, in docs/.
#
# Then the same for the Windows build, drawn by Wine on a private Xvfb in a
# Wine desktop of its own (`explorer /desktop=...`, which draws title bars):
# windows_sessions_text.png, windows_sessions_hex.png, windows_main_window.png
# and windows_about_box.png. PORTWICK_SCREENSHOT_WINDOWS=0 leaves Windows out.
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

[ "${PORTWICK_SCREENSHOT_WINDOWS:-1}" = 0 ] && exit 0
# The Windows pictures: the Wine stage's build folder and prefix.
"$root/scripts/setup.sh" windows
windows="$root/build/windows"
cmake -S "$root" -B "$windows" -G Ninja -DPORTWICK_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DPORTWICK_WITH_GUI=ON -DPORTWICK_BUILD_BENCH=OFF >/dev/null
cmake --build "$windows" --target portwick portwick_win32_screenshot >&2
export PORTWICK_WINEPREFIX="$windows/wineprefix"
shots="$(mktemp -d)"
read -r display xvfb_pid < <("$root/scripts/xvfb_start.sh" 1280x900x24)
cleanup() {
  WINEPREFIX="$PORTWICK_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$shots"
}
trap cleanup EXIT
export DISPLAY="$display"
# A server of our own on this display (one started elsewhere draws elsewhere).
WINEPREFIX="$PORTWICK_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
WINEPREFIX="$PORTWICK_WINEPREFIX" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
"$root/scripts/wine_run.sh" wineboot -i </dev/null >/dev/null 2>&1
wine_shots="Z:${shots//\//\\}"
tool="$windows/tests/ui/win32/portwick_win32_screenshot.exe"
in_desktop() {  # name, size, program and arguments
  local name="$1" size="$2"
  shift 2
  "$root/scripts/wine_run.sh" explorer "/desktop=$name,$size" "$@"
}
in_desktop portwick-sessions 1000x660 "$tool" sessions "$wine_shots" </dev/null
# The main window and its About box (Help > About, command 57664).
exe="$windows/app/portwick.exe"
in_desktop portwick-main 900x700 "$exe" </dev/null >/dev/null 2>&1 &
program=$!
in_desktop portwick-main 900x700 "$tool" window Portwick "$wine_shots\\windows_main_window.bmp" \
  57664 About "$wine_shots\\windows_about_box.bmp" </dev/null
kill "$program" 2>/dev/null || true
for picture in "$shots"/*.bmp; do
  name="$(basename "${picture%.bmp}").png"
  python3 "$root/scripts/bmp_to_png.py" "$picture" "$out/$name"
  echo "$out/$name"
done
