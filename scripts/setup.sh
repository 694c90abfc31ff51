#!/usr/bin/env bash
# Installs the Debian 12 packages of the named groups (default: run), one list
# per group in scripts/packages/<group>.txt (one package a line, # comments):
#   run    building and running Portwick (scripts/run.sh)
#   test   the tests and checks (scripts/test.sh installs run and test)
#   bench  the benchmark peers and tools (bench/run.sh installs run and bench)
#   windows  the MinGW-w64 cross build, Wine and zip (scripts/package_windows.sh,
#          the Wine stage of scripts/test.sh)
# Quick and silent when everything is there already.
#   scripts/setup.sh [GROUP...]
set -euo pipefail
lists="$(cd "$(dirname "$0")" && pwd)/packages"
[ $# -eq 0 ] && set -- run

packages=()
for group in "$@"; do
  list="$lists/$group.txt"
  if [ ! -f "$list" ]; then
    echo "setup: no package group '$group' ($list)" >&2
    exit 2
  fi
  while read -r package _; do
    [ -n "$package" ] && [ "${package:0:1}" != "#" ] && packages+=("$package")
  done <"$list"
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
