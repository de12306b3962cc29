#include "tools/replay/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace ostrim::replay {

namespace {

std::string Format(const char* format, auto... values)
{
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// The node id as the sensor file gives it: 8 hex digits, or the unreadable field as written.
std::string Node(const SensorEntry& sensor)
{
    return sensor.unreadableNodeId.empty() ? Format("%08X", static_cast<unsigned>(sensor.nodeId))
                                           : sensor.unreadableNodeId;
}

std::string SensorName(int s, const SensorEntry& sensor)
{
    if (!sensor.unreadableNodeId.empty())
        return Format("sensor %d (node id %s unreadable, never armed)", s + 1, sensor.unreadableNodeId.c_str());
    return Format("sensor %d (node %s)", s + 1, Node(sensor).c_str());
}

std::string SpacingText(double spacing)
{
    return std::isnan(spacing) ? "a lone fix" : Format("fixes %.1f m apart", spacing);
}

// A CSV field: quoted only when it must be.
std::string Csv(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string Xml(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '&': escaped += "&amp;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// Its time, marked when the predictive rule fired it between fixes or late.
std::string FiringText(const Firing& firing)
{
    std::string text = UtcText(firing.utcMs);
    if (firing.kind == TriggerEngine::Firing::Predicted)
        text += " (predicted)";
    else if (firing.kind == TriggerEngine::Firing::Late)
        text += " (late)";
    return text;
}

} // namespace

std::string TextReport(const Result& result, const Summary& summary)
{
    std::string out;
    for (int s = 0; s < static_cast<int>(result.sensors.size()); ++s) {
        const std::string name = SensorName(s, result.sensors[s]);
        int number = 0;
        for (const Pass& pass : result.passes) {
            if (pass.sensor != s)
                continue;
            ++number;
            out += Format("%s pass %d, %s to %s: ", name.c_str(), number,
                          UtcText(result.fixes[pass.firstFix].utcMs).c_str(),
                          UtcText(result.fixes[pass.lastFix].utcMs).c_str());
            if (pass.firings.empty()) {
                out += "MISSED, " + pass.reason + "\n";
            } else {
                out += "fired at";
                for (std::size_t f : pass.firings)
                    out += " " + FiringText(result.firings[f]);
                out += "\n";
            }
            out += Format("    closest approach %.1f m, bearing %.0f deg (%s) from the sensor, %s\n",
                          pass.closest, pass.bearing, CompassWord(pass.bearing).c_str(),
                          SpacingText(pass.spacing).c_str());
        }
        if (number == 0) {
            if (std::isinf(result.nearest[s]))
                out += name + ": no pass, no fix at all\n";
            else
                out += Format("%s: no pass, the drive came no closer than %.1f m\n", name.c_str(),
                              result.nearest[s]);
        }
    }
    out += Format("%zu fixes over %.1f s (%.1f fixes/s)", summary.fixes, summary.durationSeconds, summary.fixRate);
    if (summary.qualityZeroFixes > 0)
        out += Format(", %zu of them quality 0 (no position: the trigger engine never got them)", summary.qualityZeroFixes);
    out += Format("; speed median %.1f m/s, maximum %.1f m/s\n", summary.medianSpeed, summary.maximumSpeed);
    out += Format("%d passes: %d fired, %d missed\n", summary.passes, summary.hits, summary.misses);
    return out;
}

std::string CsvReport(const Result& result)
{
    std::string out = "sensor,node,pass,start,end,fired,fired_at,closest_m,bearing_deg,spacing_m,reason\n";
    std::vector<int> numbers(result.sensors.size(), 0);
    for (const Pass& pass : result.passes) {
        const int number = ++numbers[pass.sensor];
        std::string firedAt;
        for (std::size_t f : pass.firings)
            firedAt += (firedAt.empty() ? "" : " ") + FiringText(result.firings[f]);
        out += Format("%d,%s,%d,%s,%s,%s,%s,%.2f,%.0f,%s,", pass.sensor + 1,
                      Csv(Node(result.sensors[pass.sensor])).c_str(), number,
                      UtcText(result.fixes[pass.firstFix].utcMs).c_str(),
                      UtcText(result.fixes[pass.lastFix].utcMs).c_str(),
                      pass.firings.empty() ? "no" : "yes", firedAt.c_str(), pass.closest, pass.bearing,
                      std::isnan(pass.spacing) ? "" : Format("%.2f", pass.spacing).c_str());
        out += Csv(pass.reason) + "\n";
    }
    return out;
}

namespace {

// True east and north metres from an origin, for drawing.
struct Point {
    double east;
    double north;
};

class Projection {
public:
    Projection(double latitude, double longitude, bool south, bool west)
        : latitude_(latitude), longitude_(longitude), scale_(MetresPerDegree(latitude)), south_(south),
          west_(west)
    {
    }
    Point At(double latitude, double longitude) const
    {
        const Offset o{(longitude - longitude_) * scale_.x, (latitude - latitude_) * scale_.y};
        return {west_ ? -o.x : o.x, south_ ? -o.y : o.y};
    }
    // The direction, in true metres, in which a coordinate number grows.
    double EastSign() const { return west_ ? -1.0 : 1.0; }
    double NorthSign() const { return south_ ? -1.0 : 1.0; }

private:
    double latitude_;
    double longitude_;
    Offset scale_;
    bool south_;
    bool west_;
};

// Metres to pixels in one box of the picture.
struct View {
    double left, top, width, height; // pixels
    Point centre;                    // metres
    double scale;                    // pixels a metre
    double X(Point p) const { return left + width / 2 + (p.east - centre.east) * scale; }
    double Y(Point p) const { return top + height / 2 - (p.north - centre.north) * scale; }
};

constexpr const char* kHit = "#1a9641";
constexpr const char* kMissColour = "#d7191c";
constexpr const char* kTrack = "#8c8c8c";

std::string Polyline(const std::vector<Point>& points, const View& v, const char* style)
{
    std::string out = "<polyline fill=\"none\" " + std::string(style) + " points=\"";
    // Points closer than a pixel to the last one drawn add nothing but bytes: an hour of laps
    // would otherwise draw each lap's every fix.
    double lastX = std::numeric_limits<double>::infinity();
    double lastY = lastX;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = v.X(points[i]);
        const double y = v.Y(points[i]);
        if (i + 1 < points.size() && std::fabs(x - lastX) < 1.0 && std::fabs(y - lastY) < 1.0)
            continue;
        out += Format("%.1f,%.1f ", x, y);
        lastX = x;
        lastY = y;
    }
    out += "\"/>\n";
    return out;
}

std::string Cross(double x, double y, double r, const char* colour)
{
    return Format("<path d=\"M%.1f,%.1f L%.1f,%.1f M%.1f,%.1f L%.1f,%.1f\" stroke=\"%s\" "
                  "stroke-width=\"2.5\"/>\n",
                  x - r, y - r, x + r, y + r, x - r, y + r, x + r, y - r, colour);
}

// The track, cut where fixes are too far apart in time to join.
std::vector<std::vector<Point>> TrackPieces(const Result& result, const Projection& projection,
                                            std::size_t first, std::size_t last)
{
    std::vector<std::vector<Point>> pieces(1);
    for (std::size_t k = first; k <= last && k < result.fixes.size(); ++k) {
        const Fix& f = result.fixes[k];
        if (k > first && f.timeMs - result.fixes[k - 1].timeMs > kMaxGapMs && !pieces.back().empty())
            pieces.emplace_back();
        pieces.back().push_back(projection.At(f.latitude, f.longitude));
    }
    return pieces;
}

} // namespace

std::string SvgMap(const Result& result)
{
    constexpr double kWidth = 960;
    constexpr double kMargin = 20;
    constexpr int kTilesPerRow = 4;
    constexpr double kTile = kWidth / kTilesPerRow;
    constexpr double kCaption = 34;

    bool south = false;
    bool west = false;
    if (!result.fixes.empty()) {
        south = result.fixes.front().south;
        west = result.fixes.front().west;
    }
    double originLat = 0;
    double originLon = 0;
    if (!result.sensors.empty()) {
        originLat = result.sensors.front().latitude;
        originLon = result.sensors.front().longitude;
    } else if (!result.fixes.empty()) {
        originLat = result.fixes.front().latitude;
        originLon = result.fixes.front().longitude;
    }
    const Projection projection(originLat, originLon, south, west);

    // The overview: everything fitted into one box.
    double minE = std::numeric_limits<double>::infinity();
    double maxE = -minE;
    double minN = minE;
    double maxN = -minE;
    auto extend = [&](Point p) {
        minE = std::min(minE, p.east);
        maxE = std::max(maxE, p.east);
        minN = std::min(minN, p.north);
        maxN = std::max(maxN, p.north);
    };
    for (const Fix& f : result.fixes)
        extend(projection.At(f.latitude, f.longitude));
    for (const SensorEntry& s : result.sensors)
        extend(projection.At(s.latitude, s.longitude));
    if (!std::isfinite(minE)) {
        minE = minN = -50;
        maxE = maxN = 50;
    }
    // Room for the threshold circles and the labels at the edges.
    const double pad = std::max(result.threshold, 0.03 * std::max(maxE - minE, maxN - minN));
    minE -= pad;
    maxE += pad;
    minN -= pad;
    maxN += pad;
    // A straight road would otherwise give a map one line high.
    const double spanE = std::max({maxE - minE, 20.0, (maxN - minN) / 4});
    const double spanN = std::max({maxN - minN, 20.0, spanE / 4});
    const double boxWidth = kWidth - 2 * kMargin;
    const double scale = std::min(boxWidth / spanE, 600.0 / spanN);
    const double boxHeight = spanN * scale;
    const double top = 76;
    const View overview{kMargin, top, boxWidth, boxHeight, {(minE + maxE) / 2, (minN + maxN) / 2}, scale};

    const int sensors = static_cast<int>(result.sensors.size());
    const int rows = (sensors + kTilesPerRow - 1) / kTilesPerRow;
    const double tilesTop = top + boxHeight + kMargin + 24;
    const double height = tilesTop + rows * (kTile + kCaption) + kMargin;

    Summary summary = Summarise(result);
    std::string svg = Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                             "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                             kWidth, height, kWidth, height);
    svg += Format("<rect width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", kWidth, height);
    svg += Format("<text x=\"%.0f\" y=\"22\" font-size=\"16\">%zu fixes, %d passes: %d fired, %d missed "
                  "(threshold %.1f m)</text>\n",
                  kMargin, summary.fixes, summary.passes, summary.hits, summary.misses, result.threshold);
    svg += Format("<text x=\"%.0f\" y=\"40\" fill=\"#555\">North up. Shaded: the firing region, closer than "
                  "the threshold with both coordinate numbers below the sensor's.</text>\n"
                  "<text x=\"%.0f\" y=\"56\" fill=\"#555\">Green ring: where it fired. Red cross: a miss, at "
                  "its closest approach. Close-ups: the fixes of each pass.</text>\n",
                  kMargin, kMargin);

    for (const auto& piece : TrackPieces(result, projection, 0, result.fixes.size()))
        svg += Polyline(piece, overview, Format("stroke=\"%s\" stroke-width=\"1.5\"", kTrack).c_str());

    // Per sensor: its passes, its colour.
    std::vector<int> misses(sensors, 0);
    std::vector<int> passes(sensors, 0);
    for (const Pass& pass : result.passes) {
        ++passes[pass.sensor];
        misses[pass.sensor] += pass.firings.empty() ? 1 : 0;
    }
    auto colour = [&](int s) { return passes[s] == 0 ? "#555555" : misses[s] > 0 ? kMissColour : kHit; };

    // A fixed-size legend scale for the overview.
    double barMetres = std::pow(10.0, std::floor(std::log10(spanE / 4)));
    for (double step : {5.0, 2.0}) {
        if (barMetres * step <= spanE / 4) {
            barMetres *= step;
            break;
        }
    }
    svg += Format("<path d=\"M%.1f,%.1f h%.1f\" stroke=\"black\" stroke-width=\"2\"/><text x=\"%.1f\" "
                  "y=\"%.1f\">%.0f m</text>\n",
                  kMargin, top + boxHeight + 12, barMetres * scale, kMargin + barMetres * scale + 6,
                  top + boxHeight + 16, barMetres);

    for (int s = 0; s < sensors; ++s) {
        const Point at = projection.At(result.sensors[s].latitude, result.sensors[s].longitude);
        const double x = overview.X(at);
        const double y = overview.Y(at);
        svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"none\" stroke=\"%s\"/>\n", x, y,
                      std::max(result.threshold * scale, 3.0), colour(s));
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"6\" height=\"6\" fill=\"%s\"/>\n", x - 3, y - 3,
                      colour(s));
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"%s\" font-weight=\"bold\">%d</text>\n",
                      x + 6, y - 6, colour(s), s + 1);
    }
    for (const Pass& pass : result.passes) {
        if (!pass.firings.empty())
            continue;
        const SensorEntry& sensor = result.sensors[pass.sensor];
        const Point at = projection.At(sensor.latitude, sensor.longitude);
        const Point miss{at.east + pass.closestEast, at.north + pass.closestNorth};
        svg += Cross(overview.X(miss), overview.Y(miss), 4, kMissColour);
    }

    // One close-up a sensor, the pass radius round it.
    for (int s = 0; s < sensors; ++s) {
        const SensorEntry& sensor = result.sensors[s];
        const Point at = projection.At(sensor.latitude, sensor.longitude);
        const double left = (s % kTilesPerRow) * kTile;
        const double tileTop = tilesTop + (s / kTilesPerRow) * (kTile + kCaption);
        const double inner = kTile - 12;
        const View v{left + 6, tileTop, inner, inner, at, inner / (2 * result.passRadius)};
        const std::string clip = Format("tile%d", s);
        svg += Format("<clipPath id=\"%s\"><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>"
                      "</clipPath>\n<g clip-path=\"url(#%s)\">\n",
                      clip.c_str(), v.left, v.top, inner, inner, clip.c_str());
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#fafafa\" "
                      "stroke=\"#ccc\"/>\n",
                      v.left, v.top, inner, inner);

        // The firing quarter: towards smaller coordinate numbers, whichever way that is on the map.
        const double r = result.threshold;
        std::string quarter =
            Format("<path fill=\"%s\" fill-opacity=\"0.25\" d=\"M%.1f,%.1f", kHit, v.X(at), v.Y(at));
        constexpr int kSteps = 24;
        for (int i = 0; i <= kSteps; ++i) {
            const double angle = (std::numbers::pi / 2) * i / kSteps;
            const Point p{at.east - projection.EastSign() * r * std::cos(angle),
                          at.north - projection.NorthSign() * r * std::sin(angle)};
            quarter += Format(" L%.1f,%.1f", v.X(p), v.Y(p));
        }
        svg += quarter + " Z\"/>\n";
        svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"none\" stroke=\"%s\" "
                      "stroke-dasharray=\"4 3\"/>\n",
                      v.X(at), v.Y(at), r * v.scale, kHit);

        int number = 0;
        for (const Pass& pass : result.passes) {
            if (pass.sensor != s)
                continue;
            ++number;
            // A fix either side, so the track runs out of the picture.
            const std::size_t first = pass.firstFix > 0 ? pass.firstFix - 1 : 0;
            const std::size_t last = pass.lastFix + 1;
            for (const auto& piece : TrackPieces(result, projection, first, last))
                svg += Polyline(piece, v, Format("stroke=\"%s\" stroke-width=\"1.2\"", kTrack).c_str());
            for (std::size_t k = first; k <= last && k < result.fixes.size(); ++k) {
                const Point p = projection.At(result.fixes[k].latitude, result.fixes[k].longitude);
                svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"1.4\" fill=\"#444\"/>\n", v.X(p), v.Y(p));
            }
            for (std::size_t f : pass.firings) {
                const Firing& firing = result.firings[f];
                const Point p = projection.At(firing.latitude, firing.longitude);
                svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"none\" stroke=\"%s\" "
                              "stroke-width=\"2\"/>\n",
                              v.X(p), v.Y(p), kHit);
            }
            if (pass.firings.empty()) {
                const Point miss{at.east + pass.closestEast, at.north + pass.closestNorth};
                svg += Cross(v.X(miss), v.Y(miss), 4, kMissColour);
                svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"%s\" font-size=\"10\">%d</text>\n",
                              v.X(miss) + 5, v.Y(miss) - 5, kMissColour, number);
            }
        }
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"5\" height=\"5\" fill=\"black\"/>\n",
                      v.X(at) - 2.5, v.Y(at) - 2.5);
        svg += "</g>\n";
        const std::string scaleNote = Format("%.0f m across", 2 * result.passRadius);
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"%s\" font-weight=\"bold\">%d: %s</text>\n", v.left,
                      tileTop + inner + 14, colour(s), s + 1, Xml(Node(sensor)).c_str());
        std::string line;
        if (passes[s] == 0)
            line = "no pass";
        else
            line = Format("%d pass%s, %d missed; %s", passes[s], passes[s] == 1 ? "" : "es", misses[s],
                          scaleNote.c_str());
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#333\">%s</text>\n", v.left, tileTop + inner + 28,
                      Xml(line).c_str());
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace ostrim::replay
