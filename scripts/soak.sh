#!/usr/bin/env bash
# Soak run: ostrim --headless against ostrim-sim for a long stretch, the receiver sending 20 fixes
# a second round the built-in track past 24 sensors in Loop mode, nodes firing all the while.
# At the end it prints the fixes sent, the GPS-log lines and raw-log entries written, the frames
# the base station saw, and the program's peak resident memory at the start and at the end.
# Exits non-zero when the counts differ, a frame was bad, or the program died.
#
# Usage: scripts/soak.sh [--minutes N (30)] [--build DIR (build)] [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=30
build=build
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
case "$minutes" in
'' | *[!0-9]* | 0) echo "soak.sh: --minutes needs a whole number above 0" >&2; exit 2 ;;
esac

ostrim=$build/ostrim
sim=$build/ostrim-sim
for program in "$ostrim" "$sim"; do
    [ -x "$program" ] || { echo "soak.sh: $program not built (cmake --build $build)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrim-soak-XXXXXX")
mkdir "$work/logs"
sim_pid=
ostrim_pid=
finish() {
    # Whatever happened, nothing is left running.
    [ -n "$ostrim_pid" ] && kill "$ostrim_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [ "$keep" = 1 ]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap finish EXIT

"$sim" --track builtin --fix-rate 20 --base --sensors 24 --sensor-file "$work/sensors.txt" \
    >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
    grep -q '^Base station: /' "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
gps_port=$(sed -n 's/^GPS receiver: \(\/.*\)$/\1/p' "$work/sim.out" | head -1)
base_port=$(sed -n 's/^Base station: \(\/.*\)$/\1/p' "$work/sim.out" | head -1)
[ -n "$gps_port" ] && [ -n "$base_port" ] || { echo "soak.sh: the simulator did not start" >&2; cat "$work/sim.out" >&2; exit 1; }

"$ostrim" --headless --gps-port "$gps_port" --base-port "$base_port" \
    --sensor-file "$work/sensors.txt" --folder "$work/logs" --mode loop >"$work/ostrim.out" 2>&1 &
ostrim_pid=$!

peak_kb() { sed -n "s/^$2:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$1/status"; }
count_lines() { cat "$@" 2>/dev/null | wc -l; }

sleep 5
kill -0 "$ostrim_pid" 2>/dev/null || { echo "soak.sh: ostrim ended at the start" >&2; cat "$work/ostrim.out" >&2; exit 1; }
rss_start=$(peak_kb "$ostrim_pid" VmHWM)
echo "soak: $minutes min, 20 fixes/s, 24 sensors, Loop mode; ostrim pid $ostrim_pid; peak RSS at start $rss_start kB"

end=$((SECONDS + minutes * 60 - 5))
report=$((SECONDS + 300))
while [ $SECONDS -lt $end ]; do
    sleep 5
    kill -0 "$ostrim_pid" 2>/dev/null || { echo "soak.sh: ostrim died" >&2; tail "$work/ostrim.out" >&2; exit 1; }
    if [ $SECONDS -ge $report ]; then
        echo "soak: $(((end - SECONDS + 59) / 60)) min left, $(count_lines "$work"/logs/*-Raw-GPS-Data.txt) fixes logged, RSS $(peak_kb "$ostrim_pid" VmRSS) kB"
        report=$((report + 300))
    fi
done

# The receiver stops first and the program takes what is still on its way; then both end.
kill -USR1 "$sim_pid"
previous=-1
for _ in $(seq 100); do
    sleep 0.2
    now=$(count_lines "$work"/logs/*-Raw-GPS-Data.txt)
    [ "$now" = "$previous" ] && break
    previous=$now
done
rss_end=$(peak_kb "$ostrim_pid" VmHWM)
kill -TERM "$ostrim_pid"
ostrim_status=0
wait "$ostrim_pid" || ostrim_status=$?
ostrim_pid=
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=

sent=$(sed -n 's/^GPS receiver: \([0-9]*\) lines sent$/\1/p' "$work/sim.out" | tail -1)
summary=$(grep '^Base station: [0-9]* commands' "$work/sim.out" | tail -1)
frames=$(echo "$summary" | sed -n 's/^Base station: \([0-9]*\) commands.*/\1/p')
bad=$(echo "$summary" | sed -n 's/.* \([0-9]*\) bad frames.*/\1/p')
gps_files=$(ls "$work"/logs/*-GPS-Data.txt | grep -v -- '-Raw-GPS-Data.txt$')
gps_lines=$(count_lines $gps_files)
raw_lines=$(count_lines "$work"/logs/*-Raw-GPS-Data.txt)
switched=$(grep -c '^Node [-0-9]* success$' "$work/ostrim.out" || true)
failed=$(grep -c '^Node [-0-9]* failed$\|^Base station failed' "$work/ostrim.out" || true)

echo "fixes sent:               $sent"
echo "GPS-log lines:            $gps_lines"
echo "raw-log entries:          $raw_lines"
echo "frames seen:              $frames (bad $bad); nodes switched $switched, failed $failed"
echo "peak RSS (VmHWM) start:   $rss_start kB"
echo "peak RSS (VmHWM) end:     $rss_end kB"
echo "ostrim exit status:       $ostrim_status"

ok=1
[ -n "$sent" ] && [ "$sent" = "$gps_lines" ] && [ "$sent" = "$raw_lines" ] || { echo "FAIL: the counts differ" >&2; ok=0; }
[ "$bad" = 0 ] && [ "$frames" = $((2 * switched)) ] && [ "$failed" = 0 ] || { echo "FAIL: frames and switched nodes disagree" >&2; ok=0; }
[ "$ostrim_status" = 0 ] || { echo "FAIL: ostrim exited with $ostrim_status" >&2; ok=0; }
[ $ok = 1 ] && echo "soak: PASS" || exit 1
