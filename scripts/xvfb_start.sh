#!/usr/bin/env bash
# Starts a private Xvfb on a display number no other X server uses (Xvfb
# picks it itself, so two of these never race for one) and prints
# "DISPLAY PID" once it accepts clients, e.g. ":3 12345". The caller stops
# it with `kill PID`. Windows programs under Wine draw their windows there.
#   read -r display xvfb_pid < <(scripts/xvfb_start.sh [WIDTHxHEIGHTxDEPTH])
set -euo pipefail
size="${1:-1280x1024x24}"
ready="$(mktemp)"
trap 'rm -f "$ready"' EXIT
Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$ready" </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do
  if [ -s "$ready" ]; then
    echo ":$(head -n1 "$ready") $pid"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill "$pid" 2>/dev/null || true
echo "xvfb_start: Xvfb did not start" >&2
exit 1
