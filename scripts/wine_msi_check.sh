#!/usr/bin/env bash
# Checks the Windows installer under Wine, in build/windows's Wine prefix:
# builds the package (scripts/package_windows.sh), installs an older build
# of the same program and then this one with `msiexec /i ... /qn`, and
# checks that this one replaced it (one Add/Remove Programs entry, with this
# version and the publisher), that an older one then refuses to go over it,
# that the installed portwick.exe says its version and forwards a few MiB
# byte-exact each way in console mode (scripts/wine_console_check.py) and
# with its window (scripts/wine_gui_check.py: the running title, Esc ends
# it with 2; needs DISPLAY), and
# that `msiexec /x` removes the program, its Start-menu shortcut, its
# registry key and its entry. Exits non-zero on the first failure.
#   scripts/wine_msi_check.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build/windows"
export PORTWICK_WINEPREFIX="${PORTWICK_WINEPREFIX:-$dir/wineprefix}"
prefix="$PORTWICK_WINEPREFIX"
wine() { "$root/scripts/wine_run.sh" "$@"; }
fail() {
  echo "wine msi check: $*" >&2
  exit 1
}

"$root/scripts/package_windows.sh"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")"
msi="$dir/packages/portwick-$version-windows-x64.msi"
[ -f "$msi" ] || fail "no $msi"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# An older build: the same first three numbers (all Windows Installer
# compares) with a lower build number, and a far older one.
IFS=. read -r major minor patch tweak <<<"$version"
older="$major.$minor.$patch"
[ "${tweak:-0}" -gt 0 ] && older="$older.$((tweak - 1))"
oldest="0.0.1"
exe="$dir/app/portwick.exe"
"$root/packaging/windows/build_msi.sh" "$exe" "$older" "$work/older.msi"
"$root/packaging/windows/build_msi.sh" "$exe" "$oldest" "$work/oldest.msi"

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() {  # /i or /x, msi file
  wine msiexec "$1" "$(windows_path "$2")" /qn </dev/null >/dev/null 2>&1
}
# The Add/Remove Programs entries named Portwick, one line each:
# "DisplayVersion|Publisher".
entries() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | awk '
      /^HKEY_/ { if (name == "Portwick") print version "|" publisher; name = version = publisher = "" }
      $1 == "DisplayName" { name = substr($0, index($0, "REG_SZ") + 10) }
      $1 == "DisplayVersion" { version = substr($0, index($0, "REG_SZ") + 10) }
      $1 == "Publisher" { publisher = substr($0, index($0, "REG_SZ") + 10) }
      END { if (name == "Portwick") print version "|" publisher }'
}
installed="$prefix/drive_c/Program Files/Portwick/portwick.exe"
# Windows puts a shortcut for every user into the common Start menu; Wine's
# installer uses the user's. The user's folder is looked for at each count:
# a pattern expanded before the install finds no shortcut to expand to.
shortcut_count() {
  local count=0 link
  for link in "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Portwick.lnk" \
              "$prefix/drive_c/users/"*"/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Portwick.lnk"; do
    [ -f "$link" ] && count=$((count + 1))
  done
  echo "$count"
}
publisher="$(sed -n 's/^set(PORTWICK_PUBLISHER "\(.*\)")$/\1/p' "$root/CMakeLists.txt")"

# A clean start, should an earlier run have stopped half-way: every
# installed Portwick removed by its product code.
for code in $(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s \
                2>/dev/null | tr -d '\r' | awk '
                  /^HKEY_/ { key = $0; sub(/.*\\/, "", key) }
                  $1 == "DisplayName" && $NF == "Portwick" { print key }'); do
  wine msiexec /x "$code" /qn </dev/null >/dev/null 2>&1 || true
done
[ -z "$(entries)" ] || fail "Portwick is installed before the check: $(entries)"

msiexec /i "$work/older.msi" || fail "the older installer ($older) failed"
[ "$(entries)" = "$older|$publisher" ] || fail "after $older: entries '$(entries)'"
msiexec /i "$msi" || fail "the installer failed"
[ "$(entries)" = "$version|$publisher" ] ||
  fail "$version did not replace $older: entries '$(entries)'"
if msiexec /i "$work/oldest.msi"; then fail "$oldest installed over $version"; fi
[ "$(entries)" = "$version|$publisher" ] || fail "after refusing $oldest: entries '$(entries)'"
[ -f "$installed" ] || fail "no $installed"
[ "$(shortcut_count)" = 1 ] || fail "$(shortcut_count) Start-menu shortcuts, not 1"
cmp -s "$installed" "$exe" || fail "the installed portwick.exe is not the one built"

said="$(wine 'C:\Program Files\Portwick\portwick.exe' --version </dev/null 2>/dev/null | tr -d '\r')"
[ "$said" = "Portwick $version" ] || fail "--version said '$said'"
# The console check runs the installed program through this wrapper.
cat >"$work/installed_portwick" <<WRAPPER
#!/bin/sh
exec "$root/scripts/wine_run.sh" 'C:\\Program Files\\Portwick\\portwick.exe' "\$@"
WRAPPER
chmod +x "$work/installed_portwick"
timeout 300 python3 "$root/scripts/wine_console_check.py" "$dir" 4 \
  --native="$work/installed_portwick" || fail "the installed program did not forward byte-exact"
timeout 300 python3 "$root/scripts/wine_gui_check.py" "$dir" 4 \
  --exe='C:\Program Files\Portwick\portwick.exe' || fail "the installed window did not forward"

msiexec /x "$msi" || fail "the uninstall failed"
[ -z "$(entries)" ] || fail "entries left after the uninstall: $(entries)"
[ ! -e "$prefix/drive_c/Program Files/Portwick" ] || fail "Program Files\\Portwick is left"
[ "$(shortcut_count)" = 0 ] || fail "the Start-menu shortcut is left"
if wine reg query 'HKLM\Software\Portwick' </dev/null >/dev/null 2>&1; then
  fail "HKLM\\Software\\Portwick is left"
fi
echo "wine msi check: passed ($older replaced by $version, $oldest refused, --version," \
  "4 MiB each way byte-exact in console mode and through the window, uninstalled)"
