#!/usr/bin/env bash
# Cross-builds callpanel.exe for 64-bit Windows and packs it with its instructions:
#   scripts/build-windows.sh [BUILD_DIR]      (default: build-windows)
# Leaves BUILD_DIR/cli/callpanel.exe and callpanel-<version>-windows-x64.zip in BUILD_DIR.
# The program is linked statically (C++, GCC and thread runtimes): it needs only DLLs that every
# Windows has, which the end of this script checks.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=$(realpath -m "${1:-$root/build-windows}")

scripts/setup.sh windows

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p "$dir"
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; exit 1; }
CCACHE_BASEDIR=$root cmake --build "$dir" -j"${JOBS:-2}" --target callpanel gbk-codec-check

exe=$dir/cli/callpanel.exe
x86_64-w64-mingw32-strip "$exe"

# Only system DLLs: a runtime DLL from mingw would be missing on the installer's laptop.
system_dlls='^(kernel32|ws2_32|iphlpapi|msvcrt|user32|advapi32|shell32|api-ms-win-.*)\.dll$'
while read -r dll; do
    [[ ${dll,,} =~ $system_dlls ]] || { echo "build-windows: $exe needs $dll" >&2; exit 1; }
done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
name=callpanel-$version-windows-x64
stage=$dir/$name
rm -rf "$stage" "$dir/$name.zip"
mkdir -p "$stage"
cp "$exe" "$stage/"
# The README's Windows section, with Windows line ends for Notepad.
awk '/^## .*Windows/ { on = 1; print; next } on && /^## / { exit } on' README.md |
    sed 's/$/\r/' >"$stage/README.txt"
[ -s "$stage/README.txt" ] || { echo "build-windows: README has no Windows section" >&2; exit 1; }
(cd "$dir" && zip -q -X -r "$name.zip" "$name")
echo "build-windows: $dir/$name.zip"
