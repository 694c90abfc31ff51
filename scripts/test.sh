#!/usr/bin/env bash
# Builds and runs every test: first a plain build, then the whole suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded suites under
# ThreadSanitizer, then a clang build whose thread-safety analysis and
# warnings are errors, then a short run of the fuzzers. The fault suite
# (tests/stress) runs after the plain build's tests. The two builds without
# the GUI still build the pane's text queue (relay threads hand text to the
# GUI thread through it) on Qt Core. A last stage cross-builds the suites that
# build for Windows (the native window among them), runs them under Wine on
# an Xvfb display of its own, with a console and a window end-to-end check
# (PORTWICK_WINE_STAGE=0 skips it; --only=wine runs it alone).
# Exits non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" run test
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

configure_and_build() {  # dir, extra cmake args...
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -G Ninja -DPORTWICK_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# The suites the Wine stage builds: those whose code builds for Windows so
# far. Add a suite here once its libraries build with MinGW; its tests carry
# the label "wine" there, and those that can't apply on Windows also carry
# "posix_only" (with the reason in their CMakeLists.txt).
wine_suites=(portwick settings_text_test windows_twins_test base_test base_queue_test trafficlog_test capture_test command_line_test engine_test trafficlog_relay_test forwarding_run_test sessions_logic_test ui_win32_sessions_test console_test
  window_probe ui_win32_framework_test ui_win32_main_window_test)

# Cross-builds build/windows with MinGW-w64 (with the native window, no
# benchmarks) and runs the suites under Wine, windows drawn on a private
# Xvfb, in the build folder's own Wine prefix.
# One wineserver is kept running for the whole run (started cold, a prefix
# takes seconds per test program) and stopped after.
wine_stage() {
  local dir="$root/build/windows"
  "$root/scripts/setup.sh" windows
  cmake -S "$root" -B "$dir" -G Ninja -DPORTWICK_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPORTWICK_WITH_GUI=ON -DPORTWICK_BUILD_BENCH=OFF >/dev/null
  # The prefix scripts/wine_run.sh uses for this folder (the toolchain's
  # emulator), made and served before the build: test discovery runs the
  # programs while they link, and Wine processes started side by side on a
  # prefix without a running server race to make it.
  local prefix="$dir/wineprefix"
  mkdir -p "$prefix"
  # The window tests make real windows: Wine draws them on a private Xvfb,
  # started before the prefix's services so that they use it too.
  local display xvfb_pid
  read -r display xvfb_pid < <("$root/scripts/xvfb_start.sh") || return 1
  export DISPLAY="$display"
  # A server left from an earlier run (on another display) is ended first.
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  # Starts the prefix's services (made on first use) with no pipe of ctest's
  # open: a service started by a test would hold that test's output pipe,
  # and ctest would wait for it until the test's time-out.
  PORTWICK_WINEPREFIX="$prefix" "$root/scripts/wine_run.sh" wineboot -i </dev/null >/dev/null 2>&1
  cmake --build "$dir" -j "$jobs" --target "${wine_suites[@]}"
  local status=0
  # Not-built suites have no labels, so the filter leaves them out too.
  ctest --test-dir "$dir" -L wine -LE "posix_only|wine_known" -j "$jobs" --timeout 60 \
    --output-on-failure || status=$?
  # portwick.exe between Linux peers: 64 MiB each way, half-close, SIGINT,
  # exit 0, the log byte-exact. Prints the relay speed under Wine.
  timeout 600 python3 "$root/scripts/wine_console_check.py" "$dir" 64 || status=$?
  # The window program: its running title, a few MiB each way byte-exact,
  # Esc ends it with 2.
  timeout 300 python3 "$root/scripts/wine_gui_check.py" "$dir" 4 || status=$?
  # The same check on the Linux build, for a speed to set next to Wine's.
  if [ -x "$root/build/test/app/portwick" ]; then
    timeout 600 python3 "$root/scripts/wine_console_check.py" "$dir" 64 \
      --native="$root/build/test/app/portwick" || status=$?
  fi
  # The installer: installed over an older build, run, uninstalled.
  timeout 600 "$root/scripts/wine_msi_check.sh" || status=$?
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k || true
  kill "$xvfb_pid" || true
  return "$status"
}

# --only=wine: the Windows stage alone (for work on the Windows build).
if [ "${1:-}" = --only=wine ]; then
  wine_stage
  exit
fi

echo "== format" >&2
"$root/scripts/check_format.sh"

echo "== plain build" >&2
configure_and_build "$root/build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$root/build/test" -j "$jobs" --output-on-failure -LE stress

echo "== fault suite (stress)" >&2
# One process for the whole suite, so that its figures add up. Run here only:
# the unit suites cover the sanitizers, and the suite's load would take the
# sanitizer builds far longer.
"$root/build/test/tests/stress/stress_test"
"$root/build/test/tests/stress/stress_window_test"

echo "== install tree and Debian package" >&2
"$root/scripts/check_package.sh" "$root/build/test"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer" >&2
configure_and_build "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug \
  -DPORTWICK_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS="-O1 -fno-sanitize-recover=undefined"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  ctest --test-dir "$root/build/asan" -j "$jobs" --output-on-failure -LE stress

echo "== ThreadSanitizer (threaded suites)" >&2
configure_and_build "$root/build/tsan" -DCMAKE_BUILD_TYPE=Debug -DPORTWICK_WITH_GUI=OFF \
  -DPORTWICK_PANE_QUEUE_WITHOUT_GUI=ON -DPORTWICK_SANITIZE=thread -DCMAKE_CXX_FLAGS="-O1"
# Older ThreadSanitizer runtimes reject the kernel's wide address randomisation.
norandom=""
command -v setarch >/dev/null && norandom="setarch $(uname -m) -R"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  $norandom ctest --test-dir "$root/build/tsan" -L threaded -j "$jobs" --output-on-failure

echo "== clang: thread-safety analysis and warnings" >&2
CC=clang CXX=clang++ configure_and_build "$root/build/clang" -DCMAKE_BUILD_TYPE=Debug \
  -DPORTWICK_WITH_GUI=OFF -DPORTWICK_PANE_QUEUE_WITHOUT_GUI=ON -DPORTWICK_BUILD_BENCH=OFF \
  -DBUILD_TESTING=OFF

echo "== fuzzing (command line, command scripts)" >&2
"$root/scripts/fuzz.sh" --seconds=15

if [ "${PORTWICK_WINE_STAGE:-1}" != 0 ]; then
  echo "== Windows build under Wine" >&2
  wine_stage
fi

echo "== all tests passed" >&2
