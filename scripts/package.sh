#!/usr/bin/env bash
# Builds the Debian package, build/ostrim_<version>_<arch>.deb, from the default build (the
# folder the test command's first stage has built already), and checks it with lintian: an
# error fails. Arguments go to cmake's configure step, e.g.
#   bash scripts/package.sh -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

rm -f build/ostrim_*.deb
# Keeps what the folder was configured with (warnings as errors or not, the compiler launcher).
cmake -S . -B build -G Ninja "$@"
cmake --build build -j "$(nproc)"
(cd build && cpack -G DEB)

deb=$(echo build/ostrim_*.deb)
echo "--- lintian $deb"
lintian --fail-on error "$deb"
echo "Package: $deb, $(du -k "$deb" | cut -f1) KiB"
echo "Depends: $(dpkg-deb --field "$deb" Depends)"
