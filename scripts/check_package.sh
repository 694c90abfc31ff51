#!/usr/bin/env bash
# Checks what a build installs and packages:
# 1. `cmake --install` into a temporary prefix: the expected files and no
#    others, icon sizes, desktop-file-validate, appstreamcli validate, the
#    manual page without groff warnings;
# 2. `cpack -G DEB`: lintian without errors, dependencies found by shlibdeps,
#    and the program unpacked with dpkg-deb -x prints its version and forwards
#    (console_test's version and forwarding cases run against it).
#   scripts/check_package.sh BUILD_DIR     (a configured and built tree)
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "check_package: $*" >&2; failures=$((failures + 1)); }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || { echo "check_package: no project version in $build" >&2; exit 1; }
app=org.portwick.Portwick

echo "-- install tree" >&2
prefix="$tmp/install/usr"
cmake --install "$build" --prefix "$prefix" >/dev/null
expected="bin/portwick
share/applications/$app.desktop
share/doc/portwick/changelog.gz
share/doc/portwick/copyright
share/icons/hicolor/16x16/apps/$app.png
share/icons/hicolor/256x256/apps/$app.png
share/icons/hicolor/32x32/apps/$app.png
share/icons/hicolor/48x48/apps/$app.png
share/icons/hicolor/scalable/apps/$app.svg
share/man/man1/portwick.1.gz
share/metainfo/$app.metainfo.xml"
actual="$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)"
[ "$actual" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$actual") || true)"
[ -x "$prefix/bin/portwick" ] || fail "bin/portwick is not executable"

for size in 16 32 48 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$app.png"
  [ -f "$png" ] || continue
  # The PNG header holds width and height as big-endian 32-bit numbers.
  read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))
  height=$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))
  [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
    fail "$size px icon is ${width}x${height}"
done

desktop="$prefix/share/applications/$app.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $app.desktop"
grep -qx "Exec=portwick" "$desktop" || fail "the desktop entry does not run portwick"
grep -qx "Icon=$app" "$desktop" || fail "the desktop entry does not name the icon $app"

metainfo="$prefix/share/metainfo/$app.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$tmp/appstream.txt" 2>&1 ||
  fail "appstreamcli rejects the metainfo: $(cat "$tmp/appstream.txt")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo lacks release $version"
grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "metainfo lacks the licence"

man_warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$prefix/share/man/man1/portwick.1.gz" 2>&1 >/dev/null)"
[ -z "$man_warnings" ] || fail "manual page warnings: $man_warnings"
zgrep -q "Portwick $version" "$prefix/share/man/man1/portwick.1.gz" ||
  fail "manual page lacks the version"
grep -q "MIT" "$prefix/share/doc/portwick/copyright" || fail "copyright lacks the licence"

echo "-- Debian package" >&2
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/cpack.txt" 2>&1 ||
  { cat "$tmp/cpack.txt" >&2; fail "cpack failed"; exit 1; }
deb="$(find "$tmp/package" -maxdepth 1 -name 'portwick_*.deb' | head -n 1)"
[ -n "$deb" ] || { fail "cpack made no .deb"; exit 1; }
[ "$(basename "$deb")" = "portwick_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "unexpected package name $(basename "$deb")"
lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1 ||
  fail "lintian reports errors: $(cat "$tmp/lintian.txt")"
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done

dpkg-deb -x "$deb" "$tmp/unpacked"
unpacked="$tmp/unpacked/usr/bin/portwick"
[ "$(env -i "$unpacked" --version)" = "Portwick $version" ] ||
  fail "the unpacked program does not print 'Portwick $version'"
PORTWICK_BINARY_UNDER_TEST="$unpacked" QT_QPA_PLATFORM=offscreen \
  "$build/tests/app/console_test" --gtest_brief=1 \
  --gtest_filter='ConsoleTest.Version*:ConsoleTest.ForwardsUntilSignal*:ConsoleTest.Unusable*' \
  >"$tmp/console.txt" 2>&1 || fail "console tests fail on the unpacked program:
$(cat "$tmp/console.txt")"

if [ "$failures" -ne 0 ]; then
  echo "check_package: $failures check(s) failed" >&2
  exit 1
fi
echo "check_package: install tree and package $(basename "$deb") are fine" >&2
