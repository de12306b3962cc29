# Sourced by the tests/win32/*.wine.sh scripts: pseudo-terminals mapped as COM ports in the Wine
# prefix. Needs WINEPREFIX.

# map_com_ports COM5 /dev/pts/3 [COM6 /dev/pts/4 ...]: writes the mappings and restarts the
# prefix's wineserver, as Wine reads them when it starts.
map_com_ports() {
    while [ $# -ge 2 ]; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >/dev/null
        shift 2
    done
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    # Started here, so its own output (an object dump when it is hung up) goes nowhere.
    wineserver </dev/null >/dev/null 2>&1
}

# wait_for_line FILE SECONDS: until FILE has a whole line; 1 when it has none by then.
wait_for_line() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        if [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" = '\n' ]; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}
