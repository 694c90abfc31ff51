#!/usr/bin/env bash
# Cross-builds Portwick for 64-bit Windows in Release (build/windows) and
# writes the downloads:
#   build/windows/packages/portwick-<version>-windows-x64.zip
# holding portwick.exe (the window, and console mode with --console),
# README.md and LICENSE, and beside it the installer
#   build/windows/packages/portwick-<version>-windows-x64.msi
# (packaging/windows/: Program Files\Portwick, a Start-menu shortcut with
# the icon, an Add/Remove Programs entry; it replaces an older Portwick).
# Fails when the program imports a DLL that Windows does not ship:
# the C++ runtime, libgcc and winpthread must be linked in.
#   scripts/package_windows.sh [--exe=PATH]
# --exe=PATH packs PATH instead of building portwick.exe (for checking this
# script and the DLL check with any MinGW program before the whole program
# builds for Windows).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/windows"
exe=""
for arg in "$@"; do
  case "$arg" in
    --exe=*) exe="${arg#--exe=}" ;;
    *) echo "package_windows: unknown argument '$arg'" >&2; exit 2 ;;
  esac
done

"$root/scripts/setup.sh" windows
# The same folder and build type as the Wine stage of scripts/test.sh, so
# neither undoes the other's configuration.
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DPORTWICK_WERROR=ON -DPORTWICK_WITH_GUI=ON \
  -DPORTWICK_BUILD_BENCH=OFF >/dev/null
if [ -z "$exe" ]; then
  cmake --build "$build" -j "$(nproc)" --target portwick
  exe="$build/app/portwick.exe"
fi
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"

# Only DLLs that come with Windows (and its API sets) may be imported.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|uxtheme|dwmapi|version|imm32|winmm|ws2_32|mswsock|iphlpapi|bcrypt|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
imports="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')"
foreign="$(printf '%s\n' "$imports" | tr 'A-Z' 'a-z' | grep -Ev "$system_dlls" || true)"
if [ -n "$foreign" ]; then
  echo "package_windows: $exe needs DLLs that Windows does not have:" $foreign >&2
  exit 1
fi

name="portwick-$version-windows-x64"
packages="$build/packages"
stage="$packages/$name"
rm -rf "$stage" "$packages/$name.zip" "$packages/$name.msi"
mkdir -p "$stage"
cp "$exe" "$stage/portwick.exe"
cp "$root/README.md" "$root/LICENSE" "$stage/"
# -X: no Unix owners or extra times; the archive holds the folder, so that
# unpacking it makes one folder.
(cd "$packages" && zip -q -X -r "$name.zip" "$name")
rm -rf "$stage"
"$root/packaging/windows/build_msi.sh" "$exe" "$version" "$packages/$name.msi"
echo "package_windows: $packages/$name.zip and $name.msi (imports: $(echo $imports))" >&2
