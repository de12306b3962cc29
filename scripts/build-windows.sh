#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 (the windows preset, folder build-windows/)
# and packs them with README-Windows.txt into dist/ostrim-<version>-win64.zip and into the
# installer dist/ostrim-<version>-setup.exe (NSIS; OSTRIM_PUBLISHER names the publisher it
# registers). Installs what is missing first. Arguments go to cmake's configure step, e.g.
#   bash scripts/build-windows.sh -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev googletest zip nsis)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

cmake --preset windows "$@"
cmake --build --preset windows -j "$(nproc)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
name=ostrim-$version-win64
stage=build-windows/$name
rm -rf "$stage" "dist/$name.zip"
mkdir -p "$stage" dist
cp build-windows/ostrim-cli.exe "$stage/"
# The dialog, where this build has it.
[ -f build-windows/ostrim.exe ] && cp build-windows/ostrim.exe "$stage/"
# CR LF, so Notepad on an older Windows shows the lines.
sed 's/$/\r/' packaging/windows/README-Windows.txt >"$stage/README-Windows.txt"
x86_64-w64-mingw32-strip "$stage"/*.exe
(cd build-windows && zip -q -r "../dist/$name.zip" "$name")
echo "Package: dist/$name.zip, $(du -k "dist/$name.zip" | cut -f1) KiB: $(cd "$stage" && echo *)"

# The installer: the same files into Program Files, Start-menu shortcuts and an uninstaller.
setup=dist/ostrim-$version-setup.exe
rm -f "$setup"
viversion=$(echo "$version.0.0.0" | cut -d. -f1-4)
makensis -V2 -DVERSION="$version" -DVIVERSION="$viversion" -DSTAGE="$PWD/$stage" \
    -DICON="$PWD/res/ostrim.ico" -DOUTFILE="$PWD/$setup" \
    -DPUBLISHER="${OSTRIM_PUBLISHER:-Publisher not set}" packaging/windows/ostrim.nsi
echo "Installer: $setup, $(du -k "$setup" | cut -f1) KiB"
