#!/usr/bin/env bash
# Installs what is missing, builds Ostrim and runs every test. The stages, in order:
#   default   RelWithDebInfo build and the whole test suite            (folder build/)
#   windows   the Windows programs cross-built with MinGW-w64 and the
#             zip made; under Wine: the core's unit tests, the Win32
#             serial layer on pseudo-terminals mapped as COM ports, and
#             tests/win32/*.wine.sh (drives against the Linux tools)     (build-windows/)
#   package   the Debian package built and checked by lintian, installed
#             with apt-get, its headless demo driven one lap and its
#             service unit verified where systemd is present            (build/)
#   service   the package under a running systemd: a Debian 12 root
#             booted with systemd-nspawn, the package installed with
#             apt, ostrim-headless@test run against the simulator
#             (scripts/service-test.sh)                                 (build/)
#   asan      the whole suite under AddressSanitizer + UBSan            (build-asan/)
#   tsan      the whole suite under ThreadSanitizer                     (build-tsan/)
#   fuzz      the seed corpora replayed, then each fuzz target for
#             OSTRIM_FUZZ_SECONDS seconds (default 40; a third of it
#             for a target with an in-memory twin)                      (build-fuzz/)
#
#   bash scripts/test.sh              every stage (what CI runs)
#   bash scripts/test.sh --quick      the default stage only
#   bash scripts/test.sh asan fuzz    the stages named
set -euo pipefail
cd "$(dirname "$0")/.."

all_stages=(default windows package service asan tsan fuzz)
stages=("${all_stages[@]}")
if [ $# -gt 0 ]; then
    if [ "$1" = "--quick" ]; then
        stages=(default)
    else
        stages=("$@")
    fi
fi

bash scripts/deps.sh

# The service stage's root takes minutes to build the first time: build it in the background
# (a process of its own, logging to a file) while the compile stages run; the stage waits for it.
if [[ " ${stages[*]} " == *" service "* ]] && command -v debootstrap >/dev/null &&
    ! bash scripts/service-root.sh ready; then
    root_log=$(bash scripts/service-root.sh log)
    mkdir -p "$(dirname "$root_log")"
    echo "Building the service stage's root in the background (log: $root_log)"
    nohup bash scripts/service-root.sh build >"$root_log" 2>&1 </dev/null &
fi

jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
# 40 s a target keeps the whole command under 45 minutes on a fresh 2-core machine;
# scripts/fuzz-long.sh runs them for longer.
fuzz_seconds=${OSTRIM_FUZZ_SECONDS:-40}

stage_default() {
    cmake -S . -B build -G Ninja -DOSTRIM_WERROR=$werror
    cmake --build build -j "$jobs"
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300
}

# The presets set the build folder, the sanitizer, the test time-out and the environment.
stage_preset() {
    cmake --preset "$1" -DOSTRIM_WERROR=$werror
    cmake --build --preset "$1" -j "$jobs"
    ctest --preset "$1" -j "$jobs"
}

# Installs the package on this machine, as a vehicle PC would, and runs what it installed.
stage_package() {
    bash scripts/package.sh
    local deb sudo=()
    deb=$(echo build/ostrim_*.deb)
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --reinstall "./$deb" </dev/null

    local version
    version=$(dpkg-deb --field "$deb" Version)
    [ "$(/usr/bin/ostrim --version)" = "ostrim $version" ] ||
        { echo "/usr/bin/ostrim --version does not say $version"; return 1; }

    local folder summary sent gps raw
    folder=$(mktemp -d)
    summary=$folder/demo.out
    /usr/bin/ostrim --demo --headless --laps 1 --folder "$folder" | tee "$summary" |
        grep -E "^(demo:|All sensors)"
    sent=$(sed -n 's/^demo:   fixes sent by the simulated receiver: \([0-9]*\)$/\1/p' "$summary")
    gps=$(sed -n 's/^demo:   GPS log lines: \([0-9]*\) in .*/\1/p' "$summary")
    raw=$(sed -n 's/^demo:   raw log entries: \([0-9]*\) in .*/\1/p' "$summary")
    rm -rf "$folder"
    if [ -z "$sent" ] || [ "$sent" -eq 0 ] || [ "$gps" != "$sent" ] || [ "$raw" != "$sent" ]; then
        echo "The installed demo's summary does not add up: sent '$sent', GPS log '$gps', raw log '$raw'"
        return 1
    fi

    if ! command -v systemd-analyze >/dev/null; then
        echo "No systemd here: the service unit is not verified"
        return 0
    fi
    local unit=/lib/systemd/system/ostrim-headless@.service findings
    # A misspelt setting is only a warning to systemd, and a sandbox setting lost that way
    # goes unnoticed: anything verify says fails.
    findings=$(systemd-analyze verify "$unit" 2>&1) ||
        { echo "$findings"; return 1; }
    [ -z "$findings" ] || { echo "systemd-analyze verify $unit:"; echo "$findings"; return 1; }
    local score
    score=$(systemd-analyze security --offline=true "$unit" |
        sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    echo "Service exposure: $score"
    awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 4.0) }' ||
        { echo "The service's exposure $score is above 4.0"; return 1; }
}

# Needs the package stage's package (built here when that stage did not run).
stage_service() {
    compgen -G "build/ostrim_*.deb" >/dev/null || bash scripts/package.sh
    bash scripts/service-test.sh "$(echo build/ostrim_*.deb)"
}

# Needs the Linux tools of the default stage's build (the simulator, the program, the helpers
# that hold the pseudo-terminals' far side); builds them when that stage did not run. Wine gets a
# fresh prefix in build-windows/. Where Wine cannot start, the stage is skipped with a message,
# except under CI, where it fails.
stage_windows() {
    bash scripts/build-windows.sh -DOSTRIM_WERROR=$werror
    [ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DOSTRIM_WERROR=$werror
    cmake --build build -j "$jobs" --target ostrim ostrim-sim ostrim_pty_pairs ostrim_drive_receiver

    export WINEPREFIX=$PWD/build-windows/wineprefix WINEDEBUG=-all
    export OSTRIM_WIN_BUILD=$PWD/build-windows OSTRIM_LINUX_BUILD=$PWD/build
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    local why=""
    if ! command -v wine >/dev/null; then
        why="wine is not installed"
    elif ! timeout 180 wineboot -i </dev/null >build-windows/wineboot.log 2>&1; then
        why="wineboot failed (build-windows/wineboot.log)"
    elif ! timeout 60 wine build-windows/ostrim-cli.exe --version </dev/null >/dev/null 2>&1; then
        why="a Windows program does not run under Wine"
    fi
    if [ -n "$why" ]; then
        if [ "${CI:-}" = "true" ]; then
            echo "Wine cannot start here: $why. CI must run this stage."
            return 1
        fi
        echo "=== Stage windows SKIPPED: Wine cannot start here: $why ==="
        return 0
    fi
    ctest --test-dir build-windows --output-on-failure --timeout 300 </dev/null
    local script
    for script in tests/win32/*.wine.sh; do
        echo "--- $script"
        bash "$script" </dev/null
    done
    wineserver -k >/dev/null 2>&1 || true
}

stage_asan() { stage_preset asan; }
stage_tsan() { stage_preset tsan; }

# Each target starts from its seed corpus in fuzz/corpus/ and writes what it finds to
# build-fuzz/fuzz-corpus/, never to the repository. A crash input lands in
# build-fuzz/fuzz-artifacts/ and fails the stage.
#
# These targets reach files or pseudo-terminals, and an in-memory twin runs their checks on the
# same inputs several times faster; they keep a third of the time for what only they check.
twinned=" gga_fuzz sensor_fuzz basestation_reply_fuzz "
stage_fuzz() {
    stage_preset fuzz # the replay of every seed, crash inputs found so far included
    local work=build-fuzz/fuzz-corpus artifacts=build-fuzz/fuzz-artifacts
    mkdir -p "$work" "$artifacts"
    local bin name dict status seconds
    for bin in build-fuzz/fuzz/*_fuzz; do
        name=$(basename "$bin")
        dict=()
        [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
        seconds=$fuzz_seconds
        [[ $twinned == *" $name "* ]] && seconds=$(((fuzz_seconds + 2) / 3))
        mkdir -p "$work/$name"
        echo "--- $name: ${seconds} s"
        status=0
        "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "${dict[@]}" \
            "$work/$name" "fuzz/corpus/$name" >"$work/$name.log" 2>&1 || status=$?
        if [ $status -ne 0 ]; then
            tail -n 60 "$work/$name.log"
            echo "$name failed (exit $status); the input is in $artifacts/"
            return 1
        fi
        grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" \
            "$work/$name.log" | sed "s/^/    /"
    done
}

current=""
trap '[ -n "$current" ] && echo "=== FAILED: stage $current ==="' EXIT
timings=()
for stage in "${stages[@]}"; do
    if ! declare -F "stage_$stage" >/dev/null; then
        echo "Unknown stage '$stage'; the stages are: ${all_stages[*]}" >&2
        exit 2
    fi
    current=$stage
    echo "=== Stage $stage ==="
    start=$SECONDS
    "stage_$stage"
    timings+=("$stage $((SECONDS - start)) s")
    echo "=== Stage $stage passed in $((SECONDS - start)) s ==="
done
current=""
echo "=== All stages passed: ${timings[*]} ==="
