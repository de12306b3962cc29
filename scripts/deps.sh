#!/usr/bin/env bash
# Installs the Debian packages Ostrim needs to build, test, package and run, if any are missing.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev clang libclang-rt-14-dev xvfb xauth util-linux fonts-dejavu-core
          dpkg-dev file help2man lintian)
# The service stage: a Debian root booted with systemd-nspawn.
packages+=(debootstrap systemd-container)
# The Windows build: the MinGW-w64 cross compiler (posix threads), GoogleTest's source to build
# with it, Wine to run the tests, xdotool to press the Windows dialog's keys, zip and nsis
# (makensis) for the zip and the installer.
packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
           googletest wine wine64 xdotool zip nsis)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
