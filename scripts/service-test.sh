#!/usr/bin/env bash
# The service stage: the built package under a running systemd. A minimal Debian 12
# (scripts/service-root.sh) is booted with systemd-nspawn, the package is installed with apt,
# and the instance ostrim-headless@test runs against ostrim-sim's pseudo-terminals in it, as
# on a vehicle PC. Each check below fails when the behaviour it names is broken.
#
#   bash scripts/service-test.sh [build/ostrim_<version>_<arch>.deb]
#
# Where the container cannot boot (no systemd-nspawn, no root to build, no network), the stage
# is skipped with the reason; under CI=true it fails.
#
# The container gets a cgroup v2 hierarchy of its own and no seccomp filter from nspawn, so its
# systemd enforces a unit's sandbox as on a real machine: the device filter (a BPF program),
# the system call filter, the namespaces.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
trap 'echo "FAILED: line $LINENO: $BASH_COMMAND"' ERR

skip() {
    if [ "${CI:-}" = "true" ]; then
        echo "The service stage cannot run here: $1. CI must run this stage."
        exit 1
    fi
    echo "=== Stage service SKIPPED: $1 ==="
    exit 0
}

if [ "$(id -u)" -ne 0 ]; then
    # nspawn and nsenter need root; the cache stays the user's.
    command -v sudo >/dev/null || skip "not root and no sudo"
    export OSTRIM_SERVICE_CACHE=${OSTRIM_SERVICE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ostrim/service-root}
    exec sudo --preserve-env=OSTRIM_SERVICE_CACHE,CI,OSTRIM_DEBIAN_MIRROR bash "$0" "$@"
fi

deb=${1:-$(echo build/ostrim_*.deb)}
[ -f "$deb" ] || { echo "No package $deb: run the package stage first"; exit 1; }
deb=$(realpath "$deb")
for tool in systemd-nspawn nsenter debootstrap; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

echo "--- the root (scripts/service-root.sh): $(bash scripts/service-root.sh path)"
if ! bash scripts/service-root.sh ready; then
    echo "Waiting for the root to be built (log: $(bash scripts/service-root.sh log))"
fi
bash scripts/service-root.sh build >>"$(bash scripts/service-root.sh log)" 2>&1 ||
    skip "the root could not be built: $(tail -n 3 "$(bash scripts/service-root.sh log)")"
root=$(bash scripts/service-root.sh path)

work=$(mktemp -d /tmp/ostrim-service.XXXXXX)
nspawn=""
cleanup() {
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        kill "$nspawn" 2>/dev/null || true # the container powers off
        for _ in $(seq 50); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.2; done
        kill -9 "$nspawn" 2>/dev/null || true
        wait "$nspawn" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The upgrade: the same package under a higher version.
version=$(dpkg-deb --field "$deb" Version)
mkdir -p "$work/debs" "$work/upgrade"
cp "$deb" "$work/debs/ostrim.deb"
dpkg-deb -R "$deb" "$work/upgrade"
sed -i "s/^Version: .*/Version: $version+upgrade/" "$work/upgrade/DEBIAN/control"
dpkg-deb --root-owner-group -Zgzip -b "$work/upgrade" "$work/debs/ostrim-upgrade.deb" >/dev/null

SYSTEMD_SECCOMP=0 SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 systemd-nspawn -q -D "$root" \
    --volatile=overlay --register=no --keep-unit -b --console=passive \
    -M ostrim-service --bind-ro="$work/debs:/srv/debs" >"$work/boot.log" 2>&1 &
nspawn=$!
init=""
# nspawn's helper children come and go; the container's init is the one that runs systemd.
for _ in $(seq 100); do
    init=$(pgrep -P "$nspawn" -x systemd | head -n 1 || true)
    [ -n "$init" ] && break
    sleep 0.1
done
[ -n "$init" ] || skip "systemd-nspawn did not start: $(tail -n 3 "$work/boot.log")"
inside() { nsenter -t "$init" -m -u -i -n -p -- "$@"; }
# Until its systemd answers at all, then until it has booted.
for _ in $(seq 300); do
    state=$(timeout 90 nsenter -t "$init" -m -u -i -n -p -- systemctl is-system-running --wait 2>&1 || true)
    [[ $state == *"Failed to connect"* ]] || break
    sleep 0.2
done
case $state in
running | degraded) echo "--- container booted ($state)" ;;
*) skip "the container's systemd did not come up ($state): $(tail -n 3 "$work/boot.log")" ;;
esac

unit=ostrim-headless@test.service
fail() {
    echo "FAILED: $*"
    echo "--- journal of $unit:"
    inside journalctl -u "$unit" -o short-monotonic --no-pager -n 40 | grep -v "Distance is" || true
    exit 1
}
ok() { echo "ok: $*"; }
# Runs the command every 0.2 s until it succeeds or `seconds` pass.
wait_for() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}
cursor() { inside journalctl -n 0 --show-cursor --no-pager | sed -n 's/^-- cursor: //p'; }
# The unit's output after a cursor, without the distance trace.
journal_since() { inside journalctl -u "$unit" -o cat --no-pager --after-cursor="$1" | grep -v "^Distance is" || true; }
logged_since() { journal_since "$1" | grep -qE "$2"; }
main_pid() { inside systemctl show -p MainPID --value "$unit"; }
active() { [ "$(inside systemctl show -p ActiveState --value "$unit")" = active ]; }
lines() { inside sh -c 'cat "$1" | wc -l' sh "$1"; }

echo "--- installing $(basename "$deb") with apt"
if ! inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /srv/debs/ostrim.deb \
        >"$work/apt.log" 2>&1; then
    # A dependency the root lacks: fetch the package lists and try again.
    inside apt-get update -qq >>"$work/apt.log" 2>&1 || true
    inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /srv/debs/ostrim.deb \
        >>"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; fail "apt-get install"; }
fi

# The simulator's devices, as udev gives a serial adapter: group dialout, mode 0660.
inside mkdir -p /etc/ostrim
inside systemd-run -q --unit=ostrim-sim --collect /usr/bin/ostrim-sim \
    --sensor-file /etc/ostrim/sensors.txt --speed 30
wait_for 10 sh -c "nsenter -t $init -m -p -- journalctl -u ostrim-sim -o cat | grep -q '^Base station: '" ||
    fail "ostrim-sim did not start: $(inside journalctl -u ostrim-sim -o cat --no-pager | tail -n 5)"
sim=$(inside journalctl -u ostrim-sim -o cat --no-pager)
gps=$(sed -n 's/^GPS receiver: //p' <<<"$sim")
base=$(sed -n 's/^Base station: //p' <<<"$sim")
inside chgrp dialout "$gps" "$base"
inside chmod 0660 "$gps" "$base"

# The base station's name points nowhere yet: its adapter comes after the unit has started.
inside mkdir -p /etc/systemd/system/$unit.d
inside sh -c "cat >/etc/systemd/system/$unit.d/test-ptys.conf" <<'EOF'
# Test only: the simulator's pseudo-terminals stand in for the serial adapters.
[Service]
DeviceAllow=char-pts rw
EOF
inside sh -c 'cat >/etc/ostrim/test.conf' <<EOF
GPS_PORT=$gps
BASE_PORT=/dev/serial/by-id/ostrim-test-base
SENSOR_FILE=/etc/ostrim/sensors.txt
VEHICLE_TYPE="Service stage"
EOF
inside systemctl daemon-reload

echo "--- $unit"
start=$(cursor)
inside systemctl start "$unit"
wait_for 15 logged_since "$start" "^Base station failed to open$" ||
    fail "the run did not start, or did not report the base station missing"
main=$(main_pid)
active || fail "$unit is not active"
uid=$(inside id -u ostrim)
status=$(inside cat "/proc/$main/status")
grep -qE "^Uid:\s+$uid\s+$uid\s+$uid\s+$uid$" <<<"$status" || fail "the main process does not run as ostrim"
grep -qE "^NoNewPrivs:\s+1$" <<<"$status" || fail "NoNewPrivs is not set"
grep -qE "^Seccomp:\s+2$" <<<"$status" || fail "no system call filter"
grep -qE "^CapEff:\s+0+$" <<<"$status" || fail "the process has capabilities"
if inside nsenter -t "$main" -m -- sh -c 'touch /usr/ostrim-probe' 2>/dev/null; then
    fail "the system is writable in the service's sandbox"
fi
[ "$(inside sh -c "grep -c : /proc/$main/net/dev")" -eq 1 ] || fail "the service has a network besides lo"
ok "active as user ostrim (pid $main), no privileges, system call filter, read-only system, no network"

# A process in the unit's cgroup opens a device node: EPERM where the device filter refuses
# it; ENXIO where the filter lets it through and no driver is behind the number.
cgroup=/sys/fs/cgroup$(inside systemctl show -p ControlGroup --value "$unit")
probe() {
    inside sh -c 'echo $$ >"$1/cgroup.procs" && exec 3<>"$2"' probe "$cgroup" "$1" 2>&1 || true
}
inside mknod /dev/ostrim-probe-mem c 1 1
[[ $(probe /dev/ostrim-probe-mem) == *"Operation not permitted"* ]] ||
    fail "the device filter is not in force: $(probe /dev/ostrim-probe-mem)"
ok "the device filter refuses a device outside the unit's list"

# The device rule. /proc/devices has no ttyUSB or ttyACM when their drivers are not loaded (as
# here), and a USB serial adapter's device appears only when plugged in, after the unit started.
missing_classes=$(inside sh -c '! grep -qE " (ttyUSB|ttyACM)$" /proc/devices' && echo yes || echo no)
inside mknod -m 0660 /dev/ttyUSB0 c 188 0
inside mknod -m 0660 /dev/ttyACM0 c 166 0
for device in /dev/ttyUSB0 /dev/ttyACM0; do
    result=$(probe $device)
    [[ $result == *"No such device"* ]] ||
        fail "the unit's device filter refuses $device, which appeared after the unit started: $result"
done
if [ "$missing_classes" = yes ]; then
    ok "ttyUSB0 and ttyACM0, appearing after the unit started without their drivers in /proc/devices, pass its device filter"
else
    ok "ttyUSB0 and ttyACM0 pass the device filter (their drivers were loaded: the late driver was not shown)"
fi

# The base station's device appears: the run's recheck reaches it, without a restart.
mark=$(cursor)
inside mkdir -p /dev/serial/by-id
inside ln -s "$base" /dev/serial/by-id/ostrim-test-base
wait_for 15 logged_since "$mark" "^Trigger on$" || fail "the base station that appeared was not reached"
[ "$(main_pid)" = "$main" ] || fail "the run was restarted to reach the base station"
wait_for 60 logged_since "$start" "^Node [0-9]+ success$" || fail "no node switched"
ok "the base station, plugged in after the start, reached by the same run; $(journal_since "$start" | grep -cE '^Node [0-9]+ success$') node switch(es) so far"

logs=$(inside sh -c 'ls -d /var/lib/ostrim/test/*' 2>/dev/null || true)
gpslog=$(grep -E -- '-[0-9]{4}-GPS-Data.txt$' <<<"$logs" || true)
grep -qE -- '-Raw-GPS-Data.txt$' <<<"$logs" && [ -n "$gpslog" ] ||
    fail "the logs are not in /var/lib/ostrim/test: $logs"
[ "$(lines "$gpslog")" -gt 0 ] || fail "the GPS log is empty"
[ "$(inside stat -c %U "$gpslog")" = ostrim ] || fail "the GPS log does not belong to ostrim"
ok "logs in /var/lib/ostrim/test, $(lines "$gpslog") fixes so far"

# The control command, as root and as an operator in the group ostrim; not as anybody else.
socket=/run/ostrim/test.sock
[ "$(inside stat -c '%a %G' $socket)" = "660 ostrim" ] || fail "$socket is not mode 660, group ostrim"
inside ostrim ctl test status | grep -qE "^State +Switching on" || fail "ostrim ctl test status: $(inside ostrim ctl test status 2>&1)"
mark=$(cursor)
[ "$(inside ostrim ctl test trigger off)" = "Trigger off" ] || fail "ostrim ctl test trigger off"
wait_for 5 logged_since "$mark" "^Trigger off$" || fail "trigger off is not in the journal"
inside ostrim ctl test status | grep -qE "^State +Off: turned off by the operator$" || fail "the status does not show triggering off"
inside adduser --quiet --disabled-password --gecos "" driver >/dev/null
inside adduser --quiet driver ostrim
[ "$(inside runuser -u driver -- ostrim ctl test trigger on)" = "Trigger on" ] ||
    fail "an operator in the group ostrim cannot switch triggering on"
if inside runuser -u nobody -- ostrim ctl test trigger off >/dev/null 2>&1; then
    fail "a user outside the group ostrim steered the run"
fi
if inside ostrim ctl test trigger toggle >/dev/null 2>&1; then
    fail "ostrim ctl accepted a toggle"
fi
inside ostrim ctl test status | grep -qE "^State +Switching on" || fail "triggering is not on after the refused requests"
ok "ostrim ctl: status, trigger off and on (by an operator in the group ostrim); refused for others and for a toggle"

# End of Lap by signal: a new GPS log, named in the journal. A log's name carries the minute,
# and End of Lap within the minute of Start goes on in the same file: wait for the next one.
started=$(basename "$gpslog" | cut -c1-5)
wait_for 65 sh -c "[ \"\$(nsenter -t $init -m -p -- date +%H_%M)\" != $started ]" || fail "the clock stands still"
mark=$(cursor)
inside systemctl kill -s SIGUSR2 --kill-whom=main "$unit"
wait_for 5 logged_since "$mark" "^End of Lap: /var/lib/ostrim/test/.*-GPS-Data.txt$" || fail "no End of Lap after SIGUSR2"
lap=$(journal_since "$mark" | sed -n 's/^End of Lap: //p' | head -n 1)
[ "$lap" != "$gpslog" ] || fail "SIGUSR2 named the GPS log of the start"
sleep 1
ended=$(lines "$gpslog")
wait_for 5 sh -c "[ \$(nsenter -t $init -m -p -- sh -c 'cat $lap | wc -l') -gt 0 ]" || fail "no fix went to the new GPS log $lap"
[ "$(lines "$gpslog")" = "$ended" ] || fail "fixes still go to the first GPS log"
ok "SIGUSR2: End of Lap, the fixes go to a new GPS log $lap"

# A crash: systemd starts the run again, and the new process opens the GPS port at once.
holds_gps() { inside ls -l "/proc/$1/fd" 2>/dev/null | grep -q " -> $gps$"; }
mark=$(cursor)
inside sh -c "kill -9 $main"
wait_for 20 sh -c "[ \"\$(nsenter -t $init -m -p -- systemctl show -p MainPID --value $unit)\" != $main ] && [ \"\$(nsenter -t $init -m -p -- systemctl show -p MainPID --value $unit)\" != 0 ]" ||
    fail "no restart after kill -9"
restarted=$(main_pid)
wait_for 10 holds_gps "$restarted" ||
    fail "the restarted run did not open the GPS port: $(journal_since "$mark" | grep -A1 '^ostrim: ' | head -n 2)"
sleep 1
[ "$(main_pid)" = "$restarted" ] && active || fail "the restarted run did not stay up"
ok "kill -9: restarted (pid $restarted), GPS port open at once"

# Stop: the summary in the journal and a clean exit.
mark=$(cursor)
inside systemctl stop "$unit"
logged_since "$mark" "^Run summary: " || fail "no run summary after systemctl stop"
[ "$(inside systemctl show -p ExecMainStatus --value "$unit")" = 0 ] || fail "the run did not exit 0"
[ "$(inside systemctl show -p Result --value "$unit")" = success ] || fail "the unit did not end with success"
ok "systemctl stop: run summary, exit 0"

# A bad configuration: the reason in the journal and a failed unit, no run with defaults.
inside sh -c 'printf "GPS_PORT=%s\nMDOE=back-and-forth\n" "$1" >/etc/ostrim/bad.conf' sh "$gps"
inside systemctl start ostrim-headless@bad.service
wait_for 10 sh -c "[ \"\$(nsenter -t $init -m -p -- systemctl show -p ActiveState --value ostrim-headless@bad.service)\" = failed ]" ||
    fail "a bad configuration did not fail the unit"
inside journalctl -u ostrim-headless@bad.service -o cat --no-pager | grep -q 'unknown variable "MDOE"' ||
    fail "the journal does not name the bad variable"
[ "$(inside systemctl show -p NRestarts --value ostrim-headless@bad.service)" = 0 ] || fail "a bad configuration was retried"
ok "a bad configuration: $(inside journalctl -u ostrim-headless@bad.service -o cat --no-pager | grep -m1 MDOE)"

# An upgrade restarts the running instance on the new program.
inside systemctl start "$unit"
wait_for 15 active || fail "$unit did not start again"
old=$(main_pid)
inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /srv/debs/ostrim-upgrade.deb >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; fail "the upgrade did not install"; }
new=$(main_pid)
[ "$new" != "$old" ] && [ "$new" != 0 ] && active || fail "the upgrade did not restart $unit"
[ "$(inside readlink "/proc/$new/exe")" = /usr/bin/ostrim ] || fail "the restarted run is not the new program"
ok "upgrade to $version+upgrade: restarted (pid $old, then $new)"

# Removing the package stops the instance: nothing runs on the deleted program.
inside env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq ostrim >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; fail "the package did not remove"; }
left=$(inside sh -c 'for s in /proc/[0-9]*/status; do
    grep -qE "^Uid:\s+$1\s" "$s" 2>/dev/null && echo "${s%/status}"; done; true' sh "$uid")
[ -z "$left" ] || fail "processes of ostrim still run after the package was removed: $left"
[ "$(inside systemctl show -p ActiveState --value "$unit")" != active ] || fail "$unit is still active"

ok "apt-get remove: the instance stopped"

echo "--- the journal of $unit (without the distance trace):"
inside journalctl -u "$unit" -o short --no-pager | grep -v "Distance is" | sed -n '1,60p'
