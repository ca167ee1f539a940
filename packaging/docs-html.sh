#!/usr/bin/env bash
# The user documentation as HTML pages, which any browser opens, with their pictures: made for
# the Windows zip and installer (scripts/build-windows.sh) and for the Debian package:
#   packaging/docs-html.sh OUT_DIR VERSION
# Writes OUT_DIR/index.html, one page per user page of docs/, their pictures and style.css.
# Only awk (packaging/windows/docs-html.awk) turns the Markdown into HTML: no new tool.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 OUT_DIR VERSION" >&2; exit 2; }
out=$(realpath -m "$1") version=$2
cd "$(dirname "$0")/.."

pages="user-guide windows callpanel commissioning deliberate-changes"
rm -rf "$out"
mkdir -p "$out"
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
        html_page "$title" >"$out/$page.html"
    index+="<li><a href=\"$page.html\">$title</a></li>"$'\n'
    { grep -o '](\([a-z0-9-]*\.png\))' "docs/$page.md" || true; } | sed 's/^](//; s/)$//' |
        while read -r picture; do cp "docs/$picture" "$out/"; done
done
{
    printf '<h1>Call Panel settings Tool %s</h1>\n<ul>\n%s</ul>\n' "$version" "$index"
} | html_page "Call Panel settings Tool $version" >"$out/index.html"
cp packaging/windows/style.css "$out/"
