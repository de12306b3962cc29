#!/usr/bin/env bash
# Installs what is missing, builds Ostrim and runs every test. The stages, in order:
#   default   RelWithDebInfo build and the whole test suite            (folder build/)
#   asan      the whole suite under AddressSanitizer + UBSan            (build-asan/)
#   tsan      the whole suite under ThreadSanitizer                     (build-tsan/)
#   fuzz      the seed corpora replayed, then each fuzz target for
#             OSTRIM_FUZZ_SECONDS seconds (default 60; a third of it
#             for a target with an in-memory twin)                      (build-fuzz/)
#
#   bash scripts/test.sh              every stage (what CI runs)
#   bash scripts/test.sh --quick      the default stage only
#   bash scripts/test.sh asan fuzz    the stages named
set -euo pipefail
cd "$(dirname "$0")/.."

all_stages=(default asan tsan fuzz)
stages=("${all_stages[@]}")
if [ $# -gt 0 ]; then
    if [ "$1" = "--quick" ]; then
        stages=(default)
    else
        stages=("$@")
    fi
fi

bash scripts/deps.sh

jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
fuzz_seconds=${OSTRIM_FUZZ_SECONDS:-60}

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
