#!/usr/bin/env bash
# Measures both firing rules over simulated passes by one sensor (straight, bends, braking,
# accelerating, stops short; noise, repeated epochs, lost fixes, a jump; 1 to 20 fixes a second)
# and writes the tables into docs/FIELD.md (between its two table markers). Takes about 20 s of
# one core (8576 passes, each replayed under both rules). Arguments go to field_table (a number
# of passes a cell other than 16; --details). Exit status: that of field_table, non-zero when the
# predictive rule missed one of its goals; the tables are written either way.
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
"$build/field_table" "$@" >"$table" || status=$?

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
echo "field-table.sh: table written into $doc in ${SECONDS} s"
exit "$status"
