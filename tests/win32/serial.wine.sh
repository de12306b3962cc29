#!/usr/bin/env bash
# The Win32 serial layer under Wine against pseudo-terminals mapped as COM5 to COM9, their far
# side held by a Linux program (ostrim_pty_pairs). Needs OSTRIM_WIN_BUILD, OSTRIM_LINUX_BUILD and
# WINEPREFIX (an initialised prefix).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-ports.sh"

work=$(mktemp -d)
helper=
finish() {
    if [ -n "$helper" ]; then
        kill "$helper" 2>/dev/null || true
        wait "$helper" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap finish EXIT

"$OSTRIM_LINUX_BUILD/tests/ostrim_pty_pairs" >"$work/ptys" &
helper=$!
wait_for_line "$work/ptys" 10 || { echo "serial.wine.sh: ostrim_pty_pairs printed no ports"; exit 1; }
read -r pty5 pty6 pty7 pty8 pty9 <"$work/ptys"
map_com_ports COM5 "$pty5" COM6 "$pty6" COM7 "$pty7" COM8 "$pty8" COM9 "$pty9"

OSTRIM_TEST_COM_PORTS="COM5 COM6 COM7 COM8 COM9" \
    wine "$OSTRIM_WIN_BUILD/tests/ostrim_win32_serial_tests.exe"
