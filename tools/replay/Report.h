#pragma once
// What a replay tells the operator: a text report, a CSV table of the passes, an SVG map.

#include "tools/replay/Replay.h"

#include <string>

namespace ostrim::replay {

// One paragraph a sensor: each pass, fired or missed and why; then the summary.
std::string TextReport(const Result& result, const Summary& summary);

// One row a pass, with a header row.
std::string CsvReport(const Result& result);

// The track, each sensor with its threshold circle and firing quarter, the fixes near it,
// where each firing happened and where each miss came closest: an overview and one close-up a
// sensor.
std::string SvgMap(const Result& result);

} // namespace ostrim::replay
