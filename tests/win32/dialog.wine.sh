#!/usr/bin/env bash
# The Windows dialog under Wine on a virtual X display. First its port lists, over stand-in
# ports (ostrim_win32_dialog_tests). Then the program against the Linux simulator on
# pseudo-terminals mapped as COM5 (GPS receiver) and COM6 (base station): it opens with the
# mapped ports listed, finds the receiver on COM5 by listening, the predictive trigger and a
# receiver delay are chosen on the system menu and put in force by Start, pressed by keyboard;
# a short drive runs and the status line comes to "Node %d success". The program echoes its
# status texts to standard output when OSTRIM_ECHO_STATUS is set, which is how the status line
# is read here. The run panel is read as its controls show it, from the file OSTRIM_PANEL_DUMP
# names: the state indicator, a row per sensor of the file with the switched node's fired, the
# history, and, once the receiver has stopped, the fixes logged equal to the GPS log's lines.
#
# Environment: OSTRIM_WIN_BUILD (the cross build folder), OSTRIM_LINUX_BUILD (the Linux build
# folder, for ostrim-sim), WINEPREFIX (a fresh prefix). OSTRIM_SCREENSHOT, if set, names a PNG
# that receives a picture of the running dialog.
# Exit: 0 passed, 1 failed, 77 Wine cannot start here.
set -euo pipefail

: "${OSTRIM_WIN_BUILD:?cross build folder}" "${OSTRIM_LINUX_BUILD:?Linux build folder}"
: "${WINEPREFIX:?a fresh Wine prefix}"
export WINEPREFIX WINEDEBUG=-all

fail() { echo "dialog.wine: FAIL: $*"; exit 1; }

exe=
[ -f "$OSTRIM_WIN_BUILD/ostrim.exe" ] && exe=$OSTRIM_WIN_BUILD/ostrim.exe
[ -n "$exe" ] || fail "no ostrim.exe in $OSTRIM_WIN_BUILD"
sim=$OSTRIM_LINUX_BUILD/ostrim-sim
[ -x "$sim" ] || fail "no ostrim-sim in $OSTRIM_LINUX_BUILD"
for tool in Xvfb xdotool wine wineserver; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    [ -n "${OSTRIM_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; Xvfb writes the number it took.
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"

if ! timeout 120 wine cmd /c exit 0 >"$work/wineboot.log" 2>&1; then
    echo "dialog.wine: SKIP: Wine cannot start here: $(tail -n3 "$work/wineboot.log")"
    exit 77
fi

tests=$OSTRIM_WIN_BUILD/tests/ostrim_win32_dialog_tests.exe
[ -f "$tests" ] || fail "no $tests"
wine "$tests" || fail "the dialog's port lists"

# Sensors close together on the simulator's track and a fast drive: a node within seconds.
"$sim" --sensor-file "$work/sensors.txt" --sensors 12 --speed 60 >"$work/sim.out" 2>&1 &
simpid=$!
pids+=($simpid)
for _ in $(seq 50); do grep -q '^Base station: /dev/' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
gps=$(sed -n 's/^GPS receiver: \(\/dev\/.*\)$/\1/p' "$work/sim.out")
base=$(sed -n 's/^Base station: \(\/dev\/.*\)$/\1/p' "$work/sim.out")
[ -n "$gps" ] && [ -n "$base" ] || fail "the simulator gave no ports: $(cat "$work/sim.out")"

wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$gps" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$base" /f >/dev/null 2>&1
wineserver -w # the mapping is read when the next Wine session starts

# The dialog's own defaults: logs in C:\LVR_LAPS, the LVR sensor file there.
laps=$WINEPREFIX/drive_c/LVR_LAPS
rm -rf "$laps" # a run in the same minute as an earlier one would append to its logs
mkdir -p "$laps"
cp "$work/sensors.txt" "$laps/LVR_Cells_VLS.txt"

# The GPS port is found by listening; the base station, which says nothing until asked, is
# named on the command line as an operator's shortcut would name it. In a Wine desktop of its
# own, which draws the caption that no window manager draws here.
# Large enough for the dialog with its run panel.
panel=$work/panel.txt
OSTRIM_ECHO_STATUS=1 OSTRIM_PANEL_DUMP="Z:${panel//\//\\}" \
    wine explorer /desktop=Ostrim,1024x768 "$exe" --base-port 6 \
    >"$work/out.txt" 2>"$work/err.txt" &
pids+=($!)

window=
for _ in $(seq 300); do
    window=$(xdotool search --name '^Ostrim$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "no dialog window; stderr: $(tail -n5 "$work/err.txt")"

# The program's standard output is in text mode: its lines end in CR LF.
output() { tr -d '\r' <"$work/out.txt"; }
ports=
for _ in $(seq 100); do
    ports=$(output | sed -n 's/^Ports: //p')
    [ -n "$ports" ] && break
    sleep 0.1
done
for port in COM5 COM6; do
    [[ " $ports " == *" $port "* ]] || fail "$port is not listed (listed: $ports)"
done
echo "dialog.wine: listed ports: $ports"
heard=
for _ in $(seq 100); do
    heard=$(output | grep -E -m1 '^Status: (GPS receiver heard|No GPS receiver heard)' || true)
    [ -n "$heard" ] && break
    sleep 0.1
done
[ "$heard" = "Status: GPS receiver heard on COM5" ] || fail "the receiver was not found on COM5: '$heard'"
echo "dialog.wine: ${heard#Status: }"

# The predictive trigger, the system menu's last item, chosen by keyboard before Start; and the
# receiver delay of 60 ms, the fourth choice of the submenu above it.
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+space
sleep 0.5
xdotool key --clearmodifiers Up Return
sleep 0.5
xdotool key --clearmodifiers alt+space
sleep 0.5
xdotool key --clearmodifiers Up Up Right
sleep 0.5
xdotool key --clearmodifiers Down Down Down Return
sleep 0.5
# Start has the focus when the dialog opens and is the default button.
xdotool key --clearmodifiers Return

success=
for _ in $(seq 300); do
    success=$(output | grep -E -m1 '^Status: Node [0-9]+ success$' || true)
    [ -n "$success" ] && break
    sleep 0.1
done
if [ -z "$success" ]; then
    echo "--- program's output"; output; echo "--- simulator"; cat "$work/sim.out"
    fail "the status line never showed \"Node %d success\""
fi
echo "dialog.wine: ${success#Status: }"
rule=$(output | sed -n 's/^Rule: //p' | head -n1)
[ "$rule" = predictive ] || fail "Start put the rule '$rule' in force, not the predictive one chosen on the system menu"
delay=$(output | sed -n 's/^Receiver delay: //p' | head -n1)
[ "$delay" = "60 ms" ] || fail "the system menu's receiver delay chose '$delay', not 60 ms"
ls "$laps"/*-GPS-Data.txt "$laps"/*-Raw-GPS-Data.txt >/dev/null 2>&1 || fail "no log files in C:\\LVR_LAPS"

# The run panel as shown, after a refresh that saw the success.
sleep 1
[ -s "$panel" ] || fail "the dialog wrote no run panel to $panel"
field() { sed -n "s/^$1\t//p" "$panel" | tr -d '\r'; }
state=$(field state)
[ "$state" = "Switching on (predictive rule)" ] || fail "the state indicator shows '$state'"
node=$(printf '%08X' "$(echo "$success" | sed 's/^Status: Node \([0-9]*\) success$/\1/')")
expected=$(awk '{ printf "%d\t%s\n", NR, $4 }' "$work/sensors.txt")
rows=$(field sensor | cut -f1,2)
[ "$rows" = "$expected" ] || fail "the sensor rows are not the sensor file's: $(echo; field sensor)"
tab=$'\t'
field sensor | grep -qE "^[0-9]+${tab}$node${tab}fired [0-9]{2}:[0-9]{2}:[0-9]{2}${tab}" \
    || fail "node $node's row does not show it fired: $(echo; field sensor)"
field history | grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2}  ${success#Status: }$" \
    || fail "the history lacks '${success#Status: }' with its time: $(echo; field history | tail -n5)"
echo "dialog.wine: panel: $state; $(field sensor | wc -l) sensor rows; node $node fired"

if [ -n "${OSTRIM_SCREENSHOT:-}" ]; then
    sleep 1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$OSTRIM_SCREENSHOT"
    echo "dialog.wine: picture in $OSTRIM_SCREENSHOT"
fi

# With the receiver stopped, the count settles: it is what the GPS log holds.
kill "$simpid" 2>/dev/null || true
gpsname=$(field 'gps log')
gpslog=$laps/${gpsname##*\\}
[ -f "$gpslog" ] || fail "the panel names the GPS log '$gpsname', which is not in C:\\LVR_LAPS"
logged= lines=
for _ in $(seq 50); do
    sleep 0.2
    logged=$(field fixes)
    lines=$(wc -l <"$gpslog")
    [ -n "$logged" ] && [ "$logged" = "$lines" ] && break
done
[ "$logged" = "$lines" ] || fail "the panel shows $logged fixes logged, the GPS log holds $lines lines"
echo "dialog.wine: fixes logged $logged = GPS log lines"
echo "dialog.wine: PASS"
