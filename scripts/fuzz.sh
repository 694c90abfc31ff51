#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each one, starting from
# its seed corpus in tests/fuzz/corpus/<fuzzer>/. New inputs go to a scratch
# folder, not into the repository; a finding is kept in build/fuzz/findings/
# and makes the script fail.
#
#   scripts/fuzz.sh [--seconds=600] [--jobs=1]    # by hand: ten minutes each
#   scripts/fuzz.sh --seconds=15                  # what scripts/test.sh runs
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=600
jobs=1
for arg in "$@"; do
  case "$arg" in
    --seconds=*) seconds="${arg#*=}" ;;
    --jobs=*) jobs="${arg#*=}" ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "fuzz.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

build="$root/build/fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPORTWICK_WERROR=ON -DPORTWICK_WITH_GUI=OFF -DPORTWICK_BUILD_BENCH=OFF -DBUILD_TESTING=OFF \
  -DPORTWICK_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j "$(nproc)" --target command_line_fuzzer command_script_fuzzer

mkdir -p "$build/findings"
status=0
for fuzzer in command_line_fuzzer command_script_fuzzer; do
  scratch="$(mktemp -d "/tmp/portwick-fuzz.$fuzzer.XXXXXX")"
  echo "== $fuzzer: $seconds s" >&2
  if ! UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "$build/tests/fuzz/$fuzzer" "$scratch" "$root/tests/fuzz/corpus/$fuzzer" \
    -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" -max_len=512 -timeout=10 \
    -artifact_prefix="$build/findings/$fuzzer-" -print_final_stats=1 2>"$build/$fuzzer.log"; then
    status=1
    echo "fuzz.sh: $fuzzer found a fault; see $build/$fuzzer.log and $build/findings/" >&2
    tail -n 30 "$build/$fuzzer.log" >&2
  else
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/$fuzzer.log" |
      sed "s/^/$fuzzer: /" >&2 || true
  fi
  rm -rf "$scratch"
done
exit "$status"
