#pragma once
// A drive past three sensors, written sentence by sentence, so that an end-to-end test knows
// every byte the receiver sends and works out the two logs' contents without the code under
// test. Positions are whole units of 1/10000 of a minute, exactly what a sentence carries.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ostrim::test {

inline constexpr long kUnitsPerDegree = 600000; // 60 minutes of 10000 units

struct ScriptSensor {
    long latitude;  // units, north
    long longitude; // units, east
    std::uint32_t nodeId;
};

// About 100 m apart on a diagonal, so only one is ever within 10 m of the vehicle.
inline const ScriptSensor kScriptSensors[3] = {
    {52 * kUnitsPerDegree + 144100, 6 * kUnitsPerDegree + 511000, 0x4070BF7B},
    {52 * kUnitsPerDegree + 144600, 6 * kUnitsPerDegree + 511500, 0x403BA38B},
    {52 * kUnitsPerDegree + 145100, 6 * kUnitsPerDegree + 512000, 0x40A1C2D3},
};

// A stretch of the drive: `fixes` sentences at sensor `sensor`'s approach (3.7 m south and
// 2.3 m west of it: in range, on its smaller side), or far from every sensor when -1.
struct Leg {
    int sensor;
    int fixes;
};

inline constexpr int kAway = -1;

class DriveScript {
public:
    // Sentences a second the receiver sends; the script's times step by as much.
    static constexpr int kRate = 10;

    explicit DriveScript(const std::vector<Leg>& legs)
    {
        int centiseconds = 10 * 3600 * 100; // 10:00:00.00, the receiver's UTC
        for (const Leg& leg : legs) {
            for (int i = 0; i < leg.fixes; ++i) {
                long lat = 52 * kUnitsPerDegree + 114100; // 52°11.41'N: about 5 km south
                long lon = 6 * kUnitsPerDegree + 471000;
                if (leg.sensor != kAway) {
                    lat = kScriptSensors[leg.sensor].latitude - 20;
                    lon = kScriptSensors[leg.sensor].longitude - 20;
                }
                fixes_.push_back({centiseconds, lat, lon});
                centiseconds += 100 / kRate;
            }
        }
    }

    static std::string SensorFileText()
    {
        std::string text;
        int number = 1;
        for (const ScriptSensor& s : kScriptSensors) {
            char line[96];
            std::snprintf(line, sizeof line, "%.8f %.8f S%d %08X\n", Degrees(s.latitude),
                          Degrees(s.longitude), number++, static_cast<unsigned>(s.nodeId));
            text += line;
        }
        return text;
    }

    // The capture the simulated receiver plays, one sentence a line, CR LF.
    std::vector<std::string> Sentences() const
    {
        std::vector<std::string> sentences;
        for (const Fix& f : fixes_) {
            char body[128];
            std::snprintf(body, sizeof body,
                          "GPGGA,%s,%02ld%02ld.%04ld,N,%03ld%02ld.%04ld,E,1,08,0.9,100.0,M,46.9,M,,",
                          UtcField(f.centiseconds).c_str(), f.latitude / kUnitsPerDegree,
                          f.latitude % kUnitsPerDegree / 10000, f.latitude % 10000,
                          f.longitude / kUnitsPerDegree, f.longitude % kUnitsPerDegree / 10000,
                          f.longitude % 10000);
            unsigned checksum = 0;
            for (const char* c = body; *c != '\0'; ++c)
                checksum ^= static_cast<unsigned char>(*c);
            char sentence[160];
            std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, checksum);
            sentences.push_back(sentence);
        }
        return sentences;
    }

    bool WriteCapture(const std::string& path) const
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const std::string& s : Sentences())
            out << s;
        return static_cast<bool>(out.flush());
    }

    std::size_t Fixes() const { return fixes_.size(); }

    // The raw log: every sentence as received.
    std::string ExpectedRawLog() const
    {
        std::string log;
        for (const std::string& s : Sentences())
            log += s;
        return log;
    }

    // The GPS log: one CSV record a fix, CR LF; `date` is the computer's local date, mm/dd/yyyy.
    std::string ExpectedGpsLog(const std::string& vehicleType, const std::string& date) const
    {
        std::string log;
        for (const Fix& f : fixes_) {
            const int cs = f.centiseconds;
            char record[256];
            std::snprintf(record, sizeof record, "%s,%s,%02d,%02d,%02d.%02d,%.6f,N,%.6f,E,100.0M\r\n",
                          vehicleType.c_str(), date.c_str(), cs / 360000, cs / 6000 % 60,
                          cs / 100 % 60, cs % 100, Degrees(f.latitude), Degrees(f.longitude));
            log += record;
        }
        return log;
    }

    static double Degrees(long units)
    {
        return static_cast<double>(units / kUnitsPerDegree) +
               static_cast<double>(units % kUnitsPerDegree) / 10000.0 / 60.0;
    }

private:
    struct Fix {
        int centiseconds;
        long latitude;
        long longitude;
    };

    static std::string UtcField(int cs)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", cs / 360000, cs / 6000 % 60,
                      cs / 100 % 60, cs % 100);
        return text;
    }

    std::vector<Fix> fixes_;
};

// The one file in `folder` whose name ends with `suffix`, e.g. "-Raw-GPS-Data.txt"; empty when
// there is none or more than one.
inline std::string FindLog(const std::string& folder, const std::string& suffix)
{
    std::string found;
    int count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        // "-GPS-Data.txt" also ends "-Raw-GPS-Data.txt".
        bool raw = name.size() >= 17 && name.compare(name.size() - 17, 17, "-Raw-GPS-Data.txt") == 0;
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            (raw == (suffix == "-Raw-GPS-Data.txt"))) {
            found = entry.path().string();
            ++count;
        }
    }
    return count == 1 ? found : std::string();
}

inline std::size_t CountLines(const std::string& text)
{
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    return lines;
}

// The local date as the GPS log writes it.
inline std::string LocalDateText()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%m/%d/%Y", &local);
    return text;
}

// "Node %d success" as the base station commands write it.
inline std::string NodeSuccess(int sensor)
{
    return "Node " + std::to_string(static_cast<int>(kScriptSensors[sensor].nodeId)) + " success";
}

// The text shown just before a Back and Forth firing.
inline std::string Nearer(int sensor)
{
    char text[48];
    std::snprintf(text, sizeof text, "%X sensor is nearer ",
                  static_cast<unsigned>(kScriptSensors[sensor].nodeId));
    return text;
}

// Loop mode: the sensors passed in the order 1, 0, 2; a wait long enough for the re-arm; the
// same pass again. Each sensor in range for three fixes, so a repeat firing would show.
inline DriveScript LoopDrive()
{
    return DriveScript({{kAway, 5}, {1, 3}, {kAway, 3}, {0, 3}, {kAway, 3}, {2, 3},
                        {kAway, 75}, // 7.5 s: the 5 s re-arm and room for a busy machine
                        {1, 3}, {kAway, 3}, {0, 3}, {kAway, 3}, {2, 3}, {kAway, 5}});
}

inline const std::vector<int> kLoopFirings = {1, 0, 2, 1, 0, 2};

inline std::vector<std::string> LoopStatuses()
{
    return {"3 sensors", "Trigger on", NodeSuccess(1), NodeSuccess(0), NodeSuccess(2),
            "All sensors triggered", NodeSuccess(1), NodeSuccess(0), NodeSuccess(2)};
}

// Back and Forth mode: a pass in table order; at sensor 0 again the hold (three fixes in range,
// each restarting the re-arm timer); a wait past the re-arm; sensor 0 and then 1 fire.
inline DriveScript BackAndForthDrive()
{
    return DriveScript({{kAway, 5}, {0, 3}, {kAway, 3}, {1, 3}, {kAway, 3}, {2, 3}, {kAway, 3},
                        {0, 3},
                        {kAway, 75}, // 7.5 s: the 5 s re-arm and room for a busy machine
                        {0, 3}, {kAway, 3}, {1, 3}, {kAway, 5}});
}

inline const std::vector<int> kBackAndForthFirings = {0, 1, 2, 0, 1};

inline std::vector<std::string> BackAndForthStatuses()
{
    return {"3 sensors",
            "Trigger on",
            "Back and Forth mode",
            NodeSuccess(0), // found by the search: no nearer text
            Nearer(1),
            NodeSuccess(1),
            Nearer(2),
            NodeSuccess(2),
            "Back and Forth timer set",
            "Back and Forth timer set",
            "Back and Forth timer set",
            "Back and forth timer reset",
            Nearer(0),
            NodeSuccess(0),
            Nearer(1),
            NodeSuccess(1)};
}

} // namespace ostrim::test
