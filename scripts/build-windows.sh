#!/usr/bin/env bash
# Cross-builds callpanel.exe and the window callpanel-tool.exe for 64-bit Windows and packs them
# with a README for Windows users, the documentation and the licence texts, as a zip and as an
# installer:
#   scripts/build-windows.sh [BUILD_DIR]      (default: build-windows)
# Leaves BUILD_DIR/cli/callpanel.exe, BUILD_DIR/app/win32/callpanel-tool.exe,
# callpanel-<version>-windows-x64.zip, the folder it holds, and callpanel-<version>-x64.msi
# (packaging/windows/msi.sh) in BUILD_DIR. The programs are linked statically (C++, GCC and
# thread runtimes): they need only DLLs that every Windows has, which this script checks, as it
# checks the zip and each program's version resource and manifest
# (tests/package/windows_zip_check.sh), and the installer's tables and files
# (tests/package/windows_msi_check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=$(realpath -m "${1:-$root/build-windows}")

scripts/setup.sh windows

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p "$dir"
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCALLPANEL_HTTPLIB_DIR="$(scripts/httplib-dir.sh)" \
    "${launcher[@]}" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; exit 1; }
CCACHE_BASEDIR=$root cmake --build "$dir" -j"${JOBS:-2}" \
    --target callpanel callpanel-tool gbk-codec-check app-post-quit

exes=("$dir/cli/callpanel.exe" "$dir/app/win32/callpanel-tool.exe")
# Only system DLLs: a runtime DLL from mingw would be missing on the installer's laptop.
system_dlls='^(kernel32|ws2_32|iphlpapi|msvcrt|user32|gdi32|imm32|comctl32|advapi32|shell32|bcrypt'
system_dlls+='|api-ms-win-.*)\.dll$'
for exe in "${exes[@]}"; do
    x86_64-w64-mingw32-strip "$exe"
    while read -r dll; do
        [[ ${dll,,} =~ $system_dlls ]] || { echo "build-windows: $exe needs $dll" >&2; exit 1; }
    done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
name=callpanel-$version-windows-x64
stage=$dir/$name
rm -rf "$stage" "$dir/$name.zip" "$dir"/callpanel-*-x64.msi
mkdir -p "$stage/licences"
cp "${exes[@]}" "$stage/"
# Texts with Windows line ends for Notepad, and a UTF-8 byte order mark on those that are not
# plain ASCII: without it Notepad before Windows 10 reads them in the ANSI code page.
crlf() {
    { LC_ALL=C grep -q '[^[:print:][:space:]]' "$1" && printf '\357\273\277'; } || true
    sed 's/\r$//; s/$/\r/' "$1"
} >"$2"
sed "s/@VERSION@/$version/" packaging/windows/README.txt >"$stage/README.txt.lf"
crlf "$stage/README.txt.lf" "$stage/README.txt"
rm "$stage/README.txt.lf"
# The licences of this program and of all that is linked into it, as the Debian packages that
# the build used state them.
crlf LICENSE "$stage/licences/callpanel-tool.txt"
crlf /usr/share/doc/libcli11-dev/copyright "$stage/licences/CLI11.txt"
crlf /usr/share/doc/nlohmann-json3-dev/copyright "$stage/licences/nlohmann-json.txt"
crlf /usr/share/doc/libcpp-httplib-dev/copyright "$stage/licences/cpp-httplib.txt"
crlf /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licences/mingw-w64-runtime-and-winpthreads.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
# The user documentation as HTML pages, which any Windows opens, with their pictures.
packaging/docs-html.sh "$stage/docs" "$version"
(cd "$dir" && zip -q -X -r "$name.zip" "$name")
tests/package/windows_zip_check.sh "$dir/$name.zip" "$version"
echo "build-windows: $dir/$name.zip"
# The installer of the same folder, for those who want the programs in the Start menu.
msi=$dir/callpanel-$version-x64.msi
packaging/windows/msi.sh "$stage" "$version" "$msi"
tests/package/windows_msi_check.sh "$msi" "$version" "$stage"
echo "build-windows: $msi"
