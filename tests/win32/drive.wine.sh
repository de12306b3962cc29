#!/usr/bin/env bash
# End to end under Wine: ostrim-cli.exe drives past three sensors in each mode, its receiver and
# base station on pseudo-terminals mapped as COM ports (the receiver ostrim_drive_receiver, the
# base station ostrim-sim --base, both Linux programs), and the Linux ostrim --headless drives
# the same way. The nodes switched, in order, the status lines and both logs must be the same
# byte for byte. After the drive the operator's controls are used: on Windows the console keys
# T, T and L (from a pipe, as characters), on Linux SIGUSR1, SIGUSR1 and SIGUSR2; each must print
# the same line. Then the receiver goes, which the run must report, and Q (in loop mode) or
# Ctrl-C (SIGINT) must end it with status 0 and its summary.
# Needs OSTRIM_WIN_BUILD, OSTRIM_LINUX_BUILD and WINEPREFIX (an initialised prefix).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-ports.sh"

work=$(mktemp -d)
pids=()
finish() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap finish EXIT

fail() {
    echo "drive.wine.sh: $*"
    exit 1
}

# wait_for_pattern FILE REGEX SECONDS
wait_for_pattern() {
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -qE "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# drive MODE linux|windows: one drive into $work/<system>-<mode>.
drive() {
    local mode=$1 system=$2 dir=$work/$2-$1
    mkdir -p "$dir/logs"
    "$OSTRIM_LINUX_BUILD/tests/ostrim_drive_receiver" "$mode" "$dir" >"$dir/receiver.out" &
    local receiver=$!
    pids+=("$receiver")
    "$OSTRIM_LINUX_BUILD/ostrim-sim" --base >"$dir/base.out" &
    local base=$!
    pids+=("$base")
    wait_for_line "$dir/receiver.out" 10 || fail "the receiver printed no port"
    wait_for_pattern "$dir/base.out" '^Base station: /' 10 || fail "the base station printed no port"
    local gps_pty base_pty
    gps_pty=$(head -n 1 "$dir/receiver.out")
    base_pty=$(sed -n 's|^Base station: \(/.*\)$|\1|p' "$dir/base.out")

    local program
    if [ "$system" = linux ]; then
        TZ=UTC "$OSTRIM_LINUX_BUILD/ostrim" --headless --gps-port "$gps_pty" --base-port "$base_pty" \
            --sensor-file "$dir/sensors.txt" --folder "$dir/logs" --mode "$mode" \
            </dev/null >"$dir/program.out" 2>"$dir/program.err" &
        program=$!
    else
        map_com_ports COM5 "$gps_pty" COM6 "$base_pty"
        # The keys come through a pipe held open here (fd 7), as an operator types them.
        mkfifo "$dir/keys"
        exec 7<>"$dir/keys"
        TZ=UTC wine "$OSTRIM_WIN_BUILD/ostrim-cli.exe" --gps-port COM5 --base-port COM6 \
            --sensor-file "Z:$dir/sensors.txt" --folder "Z:$dir/logs" --mode "$mode" \
            <"$dir/keys" >"$dir/program.out" 2>"$dir/program.err" &
        program=$!
    fi
    pids+=("$program")

    wait_for_pattern "$dir/receiver.out" '^played ' 60 ||
        fail "$system $mode: the drive was not played: $(cat "$dir/program.err")"
    local fixes gps_log
    fixes=$(sed -n 's/^played //p' "$dir/receiver.out")
    local i
    for ((i = 0; i < 200; i++)); do
        gps_log=$(ls "$dir"/logs/*-GPS-Data.txt 2>/dev/null | grep -v -- '-Raw-GPS-Data' | head -n 1)
        [ -n "$gps_log" ] && [ "$(wc -l <"$gps_log")" -ge "$fixes" ] && break
        sleep 0.1
    done
    [ "$(wc -l <"$gps_log")" -ge "$fixes" ] || fail "$system $mode: the log holds fewer than $fixes fixes"

    # Trigger On/Off twice and End of Lap, each answered by a line of its own.
    local control expected before
    for control in t t l; do
        expected='^Trigger (on|off)'
        [ "$control" = l ] && expected='^End of Lap: .*-GPS-Data\.txt'
        before=$(grep -cE "$expected" "$dir/program.out" || true)
        if [ "$system" = windows ]; then
            printf '%s' "$control" >&7
        elif [ "$control" = t ]; then
            kill -USR1 "$program"
        else
            kill -USR2 "$program"
        fi
        for ((i = 0; i < 100; i++)); do
            [ "$(grep -cE "$expected" "$dir/program.out" || true)" -gt "$before" ] && break
            sleep 0.1
        done
        [ "$i" -lt 100 ] || fail "$system $mode: no answer to the control $control: $(tail -n 3 "$dir/program.out")"
    done

    # The receiver goes, as when its adapter is pulled: the run says so.
    kill "$receiver"
    wait "$receiver" 2>/dev/null || true
    wait_for_pattern "$dir/program.out" '^GPS receiver disconnected' 10 ||
        fail "$system $mode: a receiver that went was not reported"

    # Q, or SIGINT: under Wine the console's Ctrl-C. Either ends the run.
    if [ "$system" = windows ] && [ "$mode" = loop ]; then
        printf q >&7
    else
        kill -INT "$program"
    fi
    local status=0
    for ((i = 0; i < 100; i++)); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program" 2>/dev/null && fail "$system $mode: the program did not end on Q or Ctrl-C"
    wait "$program" || status=$?
    [ "$status" -eq 0 ] || fail "$system $mode: exit status $status: $(cat "$dir/program.err")"
    # A clean end prints the run's summary last; a process merely killed does not.
    tail -n 1 "$dir/program.out" | grep -q '^Run summary: ' ||
        fail "$system $mode: the run did not end cleanly on Q or Ctrl-C"
    kill "$base"
    wait "$base" 2>/dev/null || true

    # The node commands the base station saw, without their times.
    grep -E ' (on|off)$' "$dir/base.out" | awk '{print $(NF-1), $NF}' >"$dir/nodes"
    # The status lines, without the distance trace and the summary (which names times), and the
    # new log's name without its folder and time.
    grep -vE '^(Distance is: |Run summary: )' "$dir/program.out" | tr -d '\r' |
        sed -E 's/^End of Lap: .*-GPS-Data\.txt$/End of Lap: (new GPS log)/' >"$dir/statuses" || true
    [ "$system" = windows ] && exec 7>&-
    cp "$gps_log" "$dir/gps.log"
    cp "$(ls "$dir"/logs/*-Raw-GPS-Data.txt)" "$dir/raw.log"
}

for mode in loop back-and-forth; do
    drive "$mode" linux
    drive "$mode" windows
    linux=$work/linux-$mode windows=$work/windows-$mode
    [ "$(wc -l <"$linux/nodes")" -ge 6 ] || fail "$mode: the Linux drive switched too few nodes"
    cmp "$linux/nodes" "$windows/nodes" || fail "$mode: other nodes switched:
$(diff "$linux/nodes" "$windows/nodes")"
    cmp "$linux/statuses" "$windows/statuses" || fail "$mode: other status lines:
$(diff "$linux/statuses" "$windows/statuses")"
    cmp "$linux/gps.log" "$windows/gps.log" || fail "$mode: the GPS logs differ"
    cmp "$linux/raw.log" "$windows/raw.log" || fail "$mode: the raw logs differ"
    echo "drive.wine.sh: $mode: $(wc -l <"$linux/nodes") node commands, $(wc -l <"$linux/gps.log") fixes, both logs the same on Windows"
done
