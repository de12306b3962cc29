#!/usr/bin/env bash
# Long fuzzing: builds the fuzz preset and runs every fuzz target for SECONDS (an hour is a good
# night's share), one after another, each from its seeds and what earlier long runs found (kept
# in build-fuzz/fuzz-long-corpus/). A crash does not stop the run: its input lands in
# build-fuzz/fuzz-long-artifacts/ and the next target runs. At the end the figures of each
# target (executions, executions a second of wall and of CPU time, coverage "cov:" and "ft:", new
# units, crashes, the load average) replace the results in docs/FUZZING.md. Exits non-zero when a
# target crashed.
#
# Usage: scripts/fuzz-long.sh SECONDS [TARGET...]   (every target when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-}
case "$seconds" in
'' | *[!0-9]* | 0) echo "usage: scripts/fuzz-long.sh SECONDS [TARGET...]" >&2; exit 2 ;;
esac
shift

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for bin in build-fuzz/fuzz/*_fuzz; do targets+=("$(basename "$bin")"); done
fi

work=build-fuzz/fuzz-long-corpus
artifacts=build-fuzz/fuzz-long-artifacts
mkdir -p "$work" "$artifacts"

load() { cut -d' ' -f1 /proc/loadavg; }
started=$(date -u '+%Y-%m-%d %H:%M UTC')
rows=()
crashed=0
for name in "${targets[@]}"; do
    bin=build-fuzz/fuzz/$name
    [ -x "$bin" ] || { echo "fuzz-long.sh: no target $name" >&2; exit 2; }
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
    mkdir -p "$work/$name"
    kept=$(find "$work/$name" -type f | wc -l)
    log=$work/$name.log
    echo "--- $name: $seconds s"
    before=$(load)
    status=0
    # The CPU time too: on a shared machine, executions per CPU second compare targets fairly.
    TIMEFORMAT='%U %S'
    { time "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "${dict[@]}" "$work/$name" "fuzz/corpus/$name" \
        >"$log" 2>&1 || status=$?; } 2>"$work/$name.cpu"
    after=$(load)
    cpu=$(awk '{printf "%.1f", $1 + $2}' "$work/$name.cpu")
    final() { grep -E "^stat::$1:" "$log" | awk '{print $2}' | tail -n 1; }
    runs=$(final number_of_executed_units)
    rate=$(final average_exec_per_sec)
    added=$(final new_units_added)
    # The last status line holds the coverage reached: "#N ... cov: C ft: F corp: U/S ...".
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$last")
    crashes=0
    if [ $status -ne 0 ]; then
        crashes=1
        crashed=1
        echo "$name stopped (exit $status); the input is in $artifacts/, the log in $log"
    fi
    per_cpu=$(awk -v r="${runs:-0}" -v c="$cpu" 'BEGIN { printf "%d", (c > 0 ? r / c : 0) }')
    printf '    executions %s (%s/s, %s per CPU s), cov %s, ft %s, corpus %s, new units %s, crashes %s\n' \
        "${runs:-?}" "${rate:-?}" "$per_cpu" "${cov:-?}" "${ft:-?}" "${corp:-?}" "${added:-?}" "$crashes"
    rows+=("| \`$name\` | $kept | ${runs:-?} | ${rate:-?} | $cpu | $per_cpu | ${cov:-?} | ${ft:-?} | ${corp:-?} | ${added:-?} | $crashes | $before / $after |")
done

doc=docs/FUZZING.md
begin='<!-- fuzz-long results: written by scripts/fuzz-long.sh -->'
end='<!-- end of fuzz-long results -->'
table=$(
    echo "$begin"
    echo
    echo "Run of $started on commit $(git describe --always --dirty): $seconds s a target, one target at a"
    echo "time, $(nproc) CPUs, fuzz preset (clang $(clang++ -dumpversion 2>/dev/null || echo '?'), ASan + UBSan)."
    echo
    echo "| Target | Kept from earlier runs | Executions | Exec/s | CPU s | Exec per CPU s | cov | ft | Corpus | New units | Crashes | Load before / after |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"
    printf '%s\n' "${rows[@]}"
    echo
    echo "$end"
)
if [ -f "$doc" ] && grep -qF "$begin" "$doc"; then
    # Only the results between the two markers change; the text around them stays.
    awk -v begin="$begin" -v end="$end" -v table="$table" '
        $0 == begin { print table; skip = 1; next }
        $0 == end { skip = 0; next }
        !skip { print }' "$doc" >"$doc.new"
    mv "$doc.new" "$doc"
else
    printf '# Fuzzing\n\n%s\n' "$table" >>"$doc"
fi
echo "Figures written to $doc"
exit $crashed
