#!/usr/bin/env bash
# The Windows zip as a user unpacks it, checked by scripts/build-windows.sh:
#   windows_zip_check.sh ZIP VERSION
# Exactly the programs, README.txt, the licence texts and the HTML documentation in one folder
# named by the version; README.txt plain text with Windows line ends, a text that is not ASCII
# with a UTF-8 byte order mark; every HTML link and picture found in the zip; every program with a version resource naming
# the product, its version and what it is, and a manifest asking for the UTF-8 code page, no
# elevation and DPI awareness.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 ZIP VERSION" >&2; exit 2; }
zip=$1 version=$2
fail() { echo "windows_zip_check: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

folder=callpanel-$version-windows-x64
[ "$(basename "$zip")" = "$folder.zip" ] || fail "$zip: not named $folder.zip"
unzip -q "$zip" -d "$work"
files=$(cd "$work" && find . -type f | sort)
expected=$(printf "./$folder/%s\n" README.txt callpanel.exe licences/CLI11.txt \
    licences/callpanel-tool.txt licences/gcc-runtime.txt \
    licences/mingw-w64-runtime-and-winpthreads.txt licences/nlohmann-json.txt licences/cpp-httplib.txt \
    docs/index.html docs/user-guide.html docs/windows.html docs/callpanel.html \
    docs/deliberate-changes.html docs/commissioning.html docs/report.png docs/style.css \
    docs/window-panels.png docs/window-wine.png docs/ui-site.png docs/ui-assign.png docs/ui-check.png)
[ -f "$work/$folder/callpanel-tool.exe" ] && expected+=$'\n'"./$folder/callpanel-tool.exe"
[ "$files" = "$(sort <<<"$expected")" ] || fail "contents differ:
$(diff <(sort <<<"$expected") <(echo "$files") || true)"

# Plain text for Notepad: every line ends in CR LF, no Markdown, no placeholder left.
for text in "$work/$folder/README.txt" "$work/$folder"/licences/*.txt; do
    [ -s "$text" ] || fail "$(basename "$text") is empty"
    ! grep -qv $'\r$' "$text" || fail "$(basename "$text"): a line without CR LF"
    bom=$([ "$(head -c3 "$text" | od -An -tx1 | tr -d ' ')" = efbbbf ] && echo yes || echo no)
    ascii=$(tail -c +"$([ "$bom" = yes ] && echo 4 || echo 1)" "$text" |
        LC_ALL=C grep -q '[^[:print:][:space:]]' && echo no || echo yes)
    [ "$ascii" = yes ] || [ "$bom" = yes ] || fail "$(basename "$text"): not ASCII, no byte order mark"
    iconv -f UTF-8 -t UTF-8 "$text" >/dev/null 2>&1 || fail "$(basename "$text"): not UTF-8"
done

# The documentation: pages Windows opens as UTF-8, no Markdown left outside code, and every
# link and picture found (anchors included) inside the zip.
docs=$work/$folder/docs
for page in "$docs"/*.html; do
    name=docs/$(basename "$page")
    grep -qF '<meta charset="utf-8">' "$page" || fail "$name: no charset"
    prose=$(sed -e 's/<code>[^<]*<\/code>//g' "$page" | sed '/<pre>/,/<\/pre>/d')
    ! grep -qE '`|\*\*|^#+ |\]\(' <<<"$prose" || fail "$name: Markdown left: $(grep -m1 -E '`|\*\*|^#+ |\]\(' <<<"$prose")"
    while read -r link; do
        file=${link%%#*} anchor=${link#"$file"}
        target=$docs/${file:-$(basename "$page")}
        [ -f "$target" ] || fail "$name: $link leads nowhere"
        [ -z "$anchor" ] || grep -qF "id=\"${anchor#\#}\"" "$target" || fail "$name: no anchor $link"
    done < <(grep -oE '(href|src)="[^"]*"' "$page" | sed -E 's/^(href|src)="//; s/"$//')
done
readme=$work/$folder/README.txt
! grep -qE '`|\*\*|^#+ |\]\(|@[A-Z]+@' "$readme" || fail "README.txt: $(grep -nE '`|\*\*|^#+ |\]\(|@[A-Z]+@' "$readme" | head -n1)"
for topic in "Version $version" callpanel.exe firewall 192.168.1.5 'callpanel search' \
    '%LOCALAPPDATA%\callpanel' 'docs\index.html' '端口打开失败' 'not attempted' 'identity' \
    'Windows 8.1'; do
    grep -qF "$topic" "$readme" || fail "README.txt does not mention $topic"
done

for exe in "$work/$folder"/*.exe; do
    rc=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>&1) || fail "$exe: no resources: $rc"
    for value in '"ProductName", "Call Panel settings Tool"' "\"ProductVersion\", \"$version\"" \
        "\"FileVersion\", \"$version\"" "\"OriginalFilename\", \"$(basename "$exe")\""; do
        grep -qF "VALUE $value" <<<"$rc" || fail "$(basename "$exe"): no VALUE $value"
    done
    grep -qE 'VALUE "FileDescription", "[^"]+"' <<<"$rc" || fail "$(basename "$exe"): no FileDescription"
    grep -qF ' 24 /* RT_MANIFEST */' <<<"$rc" || fail "$(basename "$exe"): no manifest"
    for setting in '>UTF-8</activeCodePage>' 'level=""asInvoker""' '>PerMonitorV2' '>true/pm</dpiAware>'; do
        grep -qF "$setting" <<<"$rc" || fail "$(basename "$exe"): the manifest lacks $setting"
    done
done
echo "windows_zip_check: $(wc -l <<<"$files") files, resources of $(ls "$work/$folder"/*.exe | wc -l) programs"
