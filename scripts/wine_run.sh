#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the Wine prefix named by
# PORTWICK_WINEPREFIX (default: build/windows/wineprefix under the checkout).
# CMake's cross-compiling emulator for the MinGW build: ctest and test
# discovery call it with the .exe and its arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${PORTWICK_WINEPREFIX:-$root/build/windows/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$WINEPREFIX"
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null && wine="$(command -v wine64)"
exec "$wine" "$@"
