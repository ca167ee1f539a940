#!/usr/bin/env bash
# The Windows installer from the folder that the zip holds, with Debian's wixl:
#   packaging/windows/msi.sh FOLDER VERSION MSI
# FOLDER holds callpanel-tool.exe, callpanel.exe, README.txt, docs\ and licences\ (made by
# scripts/build-windows.sh); VERSION is the project's version, major.minor.patch, which becomes
# the installer's ProductVersion. The ProductCode is derived from the version, so that two builds
# of one version are one product and a newer version is a major upgrade of the older one.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 FOLDER VERSION MSI" >&2; exit 2; }
folder=$(realpath "$1") version=$2 msi=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "msi: version $version is not N.N.N" >&2; exit 2; }
for f in callpanel-tool.exe callpanel.exe README.txt docs/index.html; do
    [ -f "$folder/$f" ] || { echo "msi: $folder/$f is missing" >&2; exit 1; }
done

# A name-based GUID (the layout of RFC 4122's version 5) from the version.
hash=$(printf 'Call Panel settings Tool product %s' "$version" | sha1sum | tr a-f A-F)
variant=$(printf '%X' $(((0x${hash:16:1} & 3) | 8)))
product_code=${hash:0:8}-${hash:8:4}-5${hash:13:3}-$variant${hash:17:3}-${hash:20:12}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl finds sources only by relative paths, from the folder it runs in.
ln -s "$folder" "$work/files"
cp "$here/callpanel-tool.ico" "$here/callpanel-tool.wxs" "$work/"
cd "$work"
# Every documentation page, picture and licence text, each its own component.
(cd files && find docs licences -type f | LC_ALL=C sort) |
    wixl-heat --prefix '' --directory-ref INSTALLDIR --component-group DocsAndLicences \
        --var var.SourceDir --win64 >files.wxs
wixl --arch x64 -D Win64=yes -D Version="$version" -D ProductCode="$product_code" \
    -D SourceDir=files -D IconFile=callpanel-tool.ico -o "$msi" callpanel-tool.wxs files.wxs
