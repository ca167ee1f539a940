#!/usr/bin/env bash
# Cross-builds callpanel.exe and the window callpanel-tool.exe for 64-bit Windows and packs them
# with a README for Windows users and the licence texts:
#   scripts/build-windows.sh [BUILD_DIR]      (default: build-windows)
# Leaves BUILD_DIR/cli/callpanel.exe, BUILD_DIR/app/win32/callpanel-tool.exe and
# callpanel-<version>-windows-x64.zip in BUILD_DIR. The programs are linked statically (C++, GCC
# and thread runtimes): they need only DLLs that every Windows has, which this script checks, as
# it checks the zip and each program's version resource and manifest
# (tests/package/windows_zip_check.sh).
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
CCACHE_BASEDIR=$root cmake --build "$dir" -j"${JOBS:-2}" \
    --target callpanel callpanel-tool gbk-codec-check app-post-quit

exes=("$dir/cli/callpanel.exe" "$dir/app/win32/callpanel-tool.exe")
# Only system DLLs: a runtime DLL from mingw would be missing on the installer's laptop.
system_dlls='^(kernel32|ws2_32|iphlpapi|msvcrt|user32|gdi32|imm32|comctl32|advapi32|shell32'
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
rm -rf "$stage" "$dir/$name.zip"
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
crlf /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licences/mingw-w64-runtime-and-winpthreads.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
# The user documentation as HTML pages, which any Windows opens, with their pictures.
pages="user-guide windows callpanel commissioning deliberate-changes"
mkdir -p "$stage/docs"
html_page() { # TITLE: the page around what it reads
    printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
    printf '<title>%s</title>\n<link rel="stylesheet" href="style.css">\n</head>\n<body>\n' "$1"
    cat
    printf '</body>\n</html>\n'
}
index=""
for page in $pages; do
    title=$(sed -n '1{s/^# //;s/`//g;p}' "docs/$page.md")
    awk -v pages="$pages" -f packaging/windows/docs-html.awk "docs/$page.md" |
        html_page "$title" >"$stage/docs/$page.html"
    index+="<li><a href=\"$page.html\">$title</a></li>"$'\n'
    { grep -o '](\([a-z0-9-]*\.png\))' "docs/$page.md" || true; } | sed 's/^](//; s/)$//' |
        while read -r picture; do cp "docs/$picture" "$stage/docs/"; done
done
{
    printf '<h1>Call Panel settings Tool %s</h1>\n<ul>\n%s</ul>\n' "$version" "$index"
} | html_page "Call Panel settings Tool $version" >"$stage/docs/index.html"
cp packaging/windows/style.css "$stage/docs/"
(cd "$dir" && zip -q -X -r "$name.zip" "$name")
tests/package/windows_zip_check.sh "$dir/$name.zip" "$version"
echo "build-windows: $dir/$name.zip"
