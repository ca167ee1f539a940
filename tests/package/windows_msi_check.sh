#!/usr/bin/env bash
# The Windows installer as msiinfo reads it, checked by scripts/build-windows.sh:
#   windows_msi_check.sh MSI VERSION FOLDER
# FOLDER is the zip's folder that the installer was built from. The installer must hold exactly
# its files, byte for byte, for Program Files\Call Panel settings Tool; install per machine for
# x64; carry VERSION as its ProductVersion and the UpgradeCode that every version shares, with a
# major upgrade that removes an older version before installing and refuses to go over a newer
# one; and make the three Start-menu entries. It writes no registry value and no environment
# variable of its own.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 MSI VERSION FOLDER" >&2; exit 2; }
msi=$1 version=$2 folder=$3
readonly UPGRADE_CODE='{836C4B8B-8DFC-4C2E-B5C2-58E68E17FBF5}'
readonly DIR='Call Panel settings Tool'
fail() { echo "windows_msi_check: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ "$(basename "$msi")" = "callpanel-$version-x64.msi" ] || fail "$msi: not named callpanel-$version-x64.msi"
tables=$(msiinfo tables "$msi") || fail "msiinfo cannot read $msi"
for t in File Component Directory Shortcut Upgrade Property InstallExecuteSequence; do
    grep -qx "$t" <<<"$tables" || fail "no table $t"
done
! grep -qx Environment <<<"$tables" || fail "an Environment table: the system PATH must be left alone"
# rows TABLE: the table's rows without msiinfo's three header lines, CR removed.
rows() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }
[ -z "$(rows Registry)" ] || fail "registry values of its own: $(rows Registry)"
property() { rows Property | awk -F'\t' -v p="$1" '$1 == p {print $2}'; }
while IFS='|' read -r name expected; do
    [ "$(property "$name")" = "$expected" ] || fail "$name is '$(property "$name")', expected '$expected'"
done <<EOF
ProductName|Call Panel settings Tool
ProductVersion|$version
Manufacturer|Call Panel settings Tool developers
UpgradeCode|$UPGRADE_CODE
ALLUSERS|1
EOF
[[ $(property ProductCode) =~ ^\{[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$ ]] ||
    fail "ProductCode $(property ProductCode) is not derived from the version"
msiinfo suminfo "$msi" | grep -qx 'Template: x64;1033' || fail "not an x64 package"

# Older versions (up to this one, not included) are found and removed; a newer one only found,
# which the launch condition refuses.
upgrade=$(rows Upgrade | cut -f1-5 | sort)
expected=$(printf '%s\t\t%s\t\t1\n%s\t%s\t\t\t2\n' "$UPGRADE_CODE" "$version" "$UPGRADE_CODE" "$version" | sort)
[ "$upgrade" = "$expected" ] || fail "Upgrade table: $upgrade"
rows LaunchCondition | grep -q '^NOT WIX_DOWNGRADE_DETECTED'$'\t' || fail "a newer version is not refused"
rows LaunchCondition | grep -q '^Installed OR VersionNT >= 603'$'\t' || fail "no refusal before Windows 8.1"
# The older version is removed before anything is installed, so that no file of it is left.
sequence=$(rows InstallExecuteSequence | sort -t$'\t' -k3,3n | cut -f1 | tr '\n' ' ')
[[ $sequence == *"FindRelatedProducts "*"InstallValidate RemoveExistingProducts InstallInitialize "* ]] ||
    fail "the older version is not removed first: $sequence"

# Exactly the folder's files, byte for byte, under Program Files.
rows Directory | grep -qx $'INSTALLDIR\tProgramFiles64Folder\t'"$DIR" || fail "INSTALLDIR is not Program Files\\$DIR"
msiextract -C "$work/x" "$msi" >/dev/null || fail "msiextract failed"
diff -r "$folder" "$work/x/$DIR" >"$work/diff" 2>&1 || fail "files differ from $folder: $(head -n 5 "$work/diff")"
[ "$(ls "$work/x")" = "$DIR" ] || fail "files outside $DIR: $(ls "$work/x")"

# The three Start-menu entries; where each leads is checked under wine (msi_wine_test.sh).
names=$(rows Shortcut | awk -F'\t' '{print $2 "|" $3}' | sort | tr '\n' ';')
[ "$names" = "ProgramMenuFolder|Call Panel command line;ProgramMenuFolder|Call Panel commissioning;ProgramMenuFolder|Call Panel settings Tool;" ] ||
    fail "Start-menu entries: $names"
echo "windows_msi_check: $(rows File | wc -l) files, 3 Start-menu entries, version $version"
