#!/usr/bin/env bash
# Builds the x64 Windows installer of Portwick with wixl from portwick.wxs.
#   packaging/windows/build_msi.sh EXE VERSION OUT.msi
# VERSION is the build's version (four numbers, as CMAKE_PROJECT_VERSION);
# the icon is made from the PNGs in resources/icons/.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 EXE VERSION OUT.msi" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
exe="$1"
version="$2"
out="$3"
if ! [[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]]; then
  echo "build_msi: '$version' is not a version of numbers" >&2
  exit 2
fi
IFS=. read -r major minor patch _ <<<"$version"
next_version="$major.$minor.$((patch + 1))"
publisher="$(sed -n 's/^set(PORTWICK_PUBLISHER "\(.*\)")$/\1/p' "$root/CMakeLists.txt")"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"
# wixl takes sources by relative names: everything is staged in one folder.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
icons="$root/resources/icons"
python3 "$here/make_ico.py" "$work/portwick.ico" \
  "$icons/portwick-16.png" "$icons/portwick-32.png" "$icons/portwick-48.png" \
  "$icons/portwick-256.png"
cp "$exe" "$work/portwick.exe"
cp "$root/README.md" "$root/LICENSE" "$here/portwick.wxs" "$work/"
(cd "$work" && wixl -a x64 -o "$out" -D Version="$version" -D NextVersion="$next_version" -D Publisher="$publisher" \
  -D Exe=portwick.exe -D Readme=README.md -D License=LICENSE -D Icon=portwick.ico portwick.wxs)
