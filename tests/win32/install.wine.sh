#!/usr/bin/env bash
# The installer under Wine, as a script would use it: a silent install into Program Files; the
# installed ostrim-cli.exe gives its version; the Start-menu shortcuts are there, and the
# uninstall key with version, publisher and size; a silent uninstall leaves no file, no
# shortcut and no key behind. Prints the sizes and the times.
# Needs OSTRIM_WIN_BUILD (the cross build, whose version names the installer in dist/) and
# WINEPREFIX (an initialised prefix).
set -euo pipefail
: "${OSTRIM_WIN_BUILD:?cross build folder}" "${WINEPREFIX:?an initialised Wine prefix}"
export WINEDEBUG=-all
# Wine would also put the shortcuts into this machine's own desktop menu.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
repo=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
    echo "install.wine.sh: $*"
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$OSTRIM_WIN_BUILD/CMakeCache.txt")
setup=$repo/dist/ostrim-$version-setup.exe
[ -f "$setup" ] || fail "no installer $setup (scripts/build-windows.sh makes it)"

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrim'
folder="$WINEPREFIX/drive_c/Program Files/Ostrim"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ostrim"
[ ! -e "$folder" ] || fail "$folder is there before the install"

seconds_since() { echo "$(date +%s.%N) $1" | awk '{printf "%.1f", $1 - $2}'; }

# The uninstaller copies itself away and runs from there: wineserver -w waits for every process.
began=$(date +%s.%N)
timeout 120 wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install failed"
timeout 60 wineserver -w
installed=$(seconds_since "$began")

for file in ostrim.exe ostrim-cli.exe README-Windows.txt uninstall.exe; do
    [ -f "$folder/$file" ] || fail "no $file in $folder"
done
said=$(timeout 60 wine "$folder/ostrim-cli.exe" --version </dev/null | tr -d '\r')
[ "$said" = "ostrim $version" ] || fail "the installed ostrim-cli.exe --version says '$said'"
for shortcut in Ostrim.lnk README.lnk; do
    [ -f "$menu/$shortcut" ] || fail "no Start-menu shortcut $shortcut in $menu"
done
entries=$(timeout 60 wine reg query "$key" </dev/null 2>/dev/null | tr -d '\r') ||
    fail "no uninstall key $key"
value() { echo "$entries" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
[ "$(value DisplayVersion)" = "$version" ] || fail "DisplayVersion is '$(value DisplayVersion)'"
[ -n "$(value Publisher)" ] || fail "no Publisher in the uninstall key"
[ "$(value DisplayName)" = Ostrim ] || fail "DisplayName is '$(value DisplayName)'"
case "$(value UninstallString)" in
*'Program Files\Ostrim\uninstall.exe"') ;;
*) fail "UninstallString is '$(value UninstallString)'" ;;
esac
registered=$(( $(value EstimatedSize) ))
[ "$registered" -gt 0 ] || fail "no EstimatedSize in the uninstall key"
on_disk=$(du -sk "$folder" | cut -f1)

began=$(date +%s.%N)
timeout 120 wine "$folder/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the silent uninstall failed"
timeout 60 wineserver -w
uninstalled=$(seconds_since "$began")
[ ! -e "$folder" ] || fail "left behind: $(cd "$folder" && ls -A)"
[ ! -e "$menu" ] || fail "left behind in the Start menu: $(ls -A "$menu")"
if timeout 60 wine reg query "$key" </dev/null >/dev/null 2>&1; then
    fail "the uninstall key $key is still there"
fi

echo "install.wine.sh: $(basename "$setup") $(du -k "$setup" | cut -f1) KiB; installed $on_disk KiB" \
    "(registered $registered KiB) in ${installed} s; uninstalled in ${uninstalled} s, nothing left"
