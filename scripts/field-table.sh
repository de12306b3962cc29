#!/usr/bin/env bash
# Measures both firing rules over straight simulated passes by one sensor and writes the table
# into docs/FIELD.md (between its two table markers). Exit status: that of field_table, non-zero
# when the predictive rule failed one of its checks.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target field_table >/dev/null

table=$(mktemp)
trap 'rm -f "$table"' EXIT
status=0
"$build/field_table" >"$table" || status=$?

doc=docs/FIELD.md
begin='<!-- field-table: begin -->'
end='<!-- field-table: end -->'
if ! grep -qF "$begin" "$doc" || ! grep -qF "$end" "$doc"; then
    echo "field-table.sh: $doc lacks the table markers" >&2
    exit 2
fi
awk -v begin="$begin" -v end="$end" -v table="$table" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skipping = 1; next }
    $0 == end { skipping = 0 }
    !skipping { print }
' "$doc" >"$doc.new"
mv "$doc.new" "$doc"
echo "field-table.sh: table written into $doc"
exit "$status"
