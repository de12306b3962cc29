#pragma once
// One program run in-process, as the headless front end wires it (a Session, timers on a thread
// of their own), against the simulated receiver and base station over real pseudo-terminals.
// The fault tests break one piece of it at a time and look at what the operator is told and at
// what the logs hold.
//
// The receiver plays sentences the test made, so the logs can be compared with exactly what was
// sent. They describe a straight road due east; sensors stand 4 m north of it, so the vehicle
// passes each on the side where both coordinate numbers are smaller.

#include "run/Session.h"
#include "run/ThreadTimerService.h"
#include "tests/support/FakeDialogFields.h"
#include "tests/support/ScratchFolder.h"
#include "tools/sim/BaseStationSim.h"
#include "tools/sim/GpsReceiverSim.h"
#include "tools/sim/Nmea.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace ostrim::test {

using namespace std::chrono_literals;

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

struct Road {
    static constexpr double kLatitude = 52.24;
    static constexpr double kLongitude = 6.85;
    static constexpr double kSensorOffset = 4.0; // metres north of the road
    static constexpr double kDegreesPerMetre = 180.0 / (std::numbers::pi * 6371008.8);

    static double LongitudeAt(double metresEast)
    {
        return kLongitude +
               metresEast * kDegreesPerMetre / std::cos(kLatitude * std::numbers::pi / 180.0);
    }

    // Fixes `first` to `first + count - 1`, `step` metres and 50 ms apart, each a distinct time.
    static std::vector<std::string> Sentences(int first, int count, double step)
    {
        const auto start =
            std::chrono::system_clock::from_time_t(1714557600); // 2024-05-01 10:00 UTC
        std::vector<std::string> sentences;
        for (int k = first; k < first + count; ++k)
            sentences.push_back(sim::FormatGga(start + k * 50ms, kLatitude, LongitudeAt(k * step)));
        return sentences;
    }

    static std::uint32_t NodeId(int sensor)
    {
        return 0x40A00001u + static_cast<std::uint32_t>(sensor);
    }

    // One sensor at each distance along the road.
    static std::string SensorFile(const std::vector<double>& metresEast)
    {
        std::string text;
        for (std::size_t i = 0; i < metresEast.size(); ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%.7f %.7f S%zu %08X\n",
                          kLatitude + kSensorOffset * kDegreesPerMetre, LongitudeAt(metresEast[i]),
                          i, NodeId(static_cast<int>(i)));
            text += line;
        }
        return text;
    }
};

// Lines of a log file, each with its line end.
inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

// The GPS log record holds the sentence's time as "hh,mm,ss.ss" in its third to fifth columns.
inline bool RecordMatchesSentence(const std::string& record, const std::string& sentence)
{
    std::vector<std::string> columns;
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = record.find(',', at);
        columns.push_back(
            record.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    const std::string utc = sentence.substr(7, 9); // "$GPGGA,hhmmss.ss"
    return columns.size() == 10 && record.size() >= 2 &&
           record.substr(record.size() - 2) == "\r\n" && columns[2] == utc.substr(0, 2) &&
           columns[3] == utc.substr(2, 2) && columns[4] == utc.substr(4);
}

// The raw log holds exactly these sentences, byte for byte; the GPS log lines one record per
// sentence, in the same order, none torn.
inline ::testing::AssertionResult LogsHoldExactly(const std::string& rawLog,
                                                  const std::vector<std::string>& gpsLines,
                                                  const std::vector<std::string>& sentences)
{
    std::string expectedRaw;
    for (const std::string& s : sentences)
        expectedRaw += s;
    if (rawLog != expectedRaw) {
        std::vector<std::string> rawLines = SplitLines(rawLog);
        std::size_t same = 0;
        while (same < rawLines.size() && same < sentences.size() &&
               rawLines[same] == sentences[same])
            ++same;
        return ::testing::AssertionFailure()
               << "raw log has " << rawLines.size() << " lines, " << sentences.size()
               << " were expected; the first " << same << " agree";
    }
    if (gpsLines.size() != sentences.size()) {
        return ::testing::AssertionFailure() << "GPS log has " << gpsLines.size() << " records, "
                                             << sentences.size() << " were expected";
    }
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        if (!RecordMatchesSentence(gpsLines[i], sentences[i])) {
            return ::testing::AssertionFailure()
                   << "GPS log record " << i << " is \"" << gpsLines[i] << "\" for the sentence \""
                   << sentences[i] << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

class SessionRig {
public:
    // `logFolder` empty: the scratch folder itself.
    explicit SessionRig(const std::vector<double>& sensorMetres = {}, std::string logFolder = {})
        : logFolder_(logFolder.empty() ? dir.Path().string() : std::move(logFolder)),
          basePortLink_(dir / "base-station"),
          session_(
              fields, timers,
              Session::Hooks{[link = basePortLink_] { return link; },
                             [](const std::string&) {}, // no distance trace on the test's output
                             [this] { ++disconnects; }})
    {
        timers.SetHandler([this](int id) { session_.Engine().OnTimer(id); });
        WriteFile(dir / "sensors.txt", Road::SensorFile(sensorMetres));
        fields.SetText(Field::SensorFile, dir / "sensors.txt");
        fields.SetText(Field::Folder, logFolder_);
        fields.SetText(Field::VehicleType, "Dunrel 80k truck");
        if (sensorMetres.empty())
            session_.Control().OnTriggerOnOff(); // nothing to trigger: the file is not even read
    }
    ~SessionRig()
    {
        StopRun();
        gps.Stop();
        if (base_)
            base_->Stop();
    }
    SessionRig(const SessionRig&) = delete;
    SessionRig& operator=(const SessionRig&) = delete;

    Session& GetSession() { return session_; }
    // Ends the run as the headless front end does at exit (EndRun): the base station's stop
    // raised, the reader joined, then the timers.
    void StopRun() { EndRun(session_, timers); }
    RunControl& Control() { return session_.Control(); }

    // Plugs a fresh base station in at the selected port, as a by-id link names a device.
    ::testing::AssertionResult PlugBaseStation()
    {
        base_ = std::make_unique<sim::BaseStationSim>();
        std::string error;
        if (!base_->Start(&error))
            return ::testing::AssertionFailure() << error;
        return PointBasePortAt(base_->DevicePath());
    }
    ::testing::AssertionResult PointBasePortAt(const std::string& device)
    {
        const std::string temporary = basePortLink_ + ".new";
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        std::filesystem::create_symlink(device, temporary, ec);
        if (!ec)
            std::filesystem::rename(temporary, basePortLink_, ec);
        if (ec)
            return ::testing::AssertionFailure()
                   << "cannot link the base-station port: " << ec.message();
        return ::testing::AssertionSuccess();
    }
    // The device goes; the selected port's link dangles, as a by-id link does.
    void UnplugBaseStation() { base_->Stop(); }
    sim::BaseStationSim& Base() { return *base_; }

    // Starts the receiver and presses Start.
    RunControl::StartOutcome Start()
    {
        std::string error;
        if (!gps.Start(&error))
            ADD_FAILURE() << error;
        return session_.Start(gps.DevicePath(), basePortLink_, gps.DevicePath());
    }
    // Waits until the run has taken `count` sentences in all, logged or not.
    bool Accepted(std::uint64_t count, std::chrono::milliseconds timeout)
    {
        return WaitFor([&] { return session_.Input().Accepted() >= count; }, timeout);
    }

    // The receiver sends these, `perSecond` a second. Returns at once.
    void Play(const std::vector<std::string>& sentences, double perSecond)
    {
        std::string text;
        for (const std::string& s : sentences)
            text += s;
        const std::string file = dir / ("play-" + std::to_string(plays_++) + ".nmea");
        WriteFile(file, text);
        if (!gps.PlayFile(file, perSecond))
            ADD_FAILURE() << "cannot play " << file;
    }
    bool PlayedAll(std::chrono::milliseconds timeout)
    {
        return WaitFor([this] { return gps.Finished(); }, timeout);
    }

    std::string RawLog() { return ReadFile(session_.State().logPaths.Raw()); }
    std::vector<std::string> GpsLogLines()
    {
        return SplitLines(ReadFile(session_.State().logPaths.Gps()));
    }
    std::size_t RawLogLines() { return SplitLines(RawLog()).size(); }
    // Waits until the raw log holds `count` lines.
    bool LogsReach(std::size_t count, std::chrono::milliseconds timeout)
    {
        return WaitFor([&] { return RawLogLines() >= count && GpsLogLines().size() >= count; },
                       timeout);
    }

    bool StatusSeen(const std::string& text) const
    {
        for (const std::string& s : fields.StatusHistory())
            if (s == text)
                return true;
        return false;
    }
    bool StatusSeenStartingWith(const std::string& prefix) const
    {
        for (const std::string& s : fields.StatusHistory())
            if (s.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    ScratchFolder dir;
    FakeDialogFields fields;
    ThreadTimerService timers;
    sim::GpsReceiverSim gps;
    std::atomic<int> disconnects{0};

private:
    std::string logFolder_;
    std::string basePortLink_;
    std::unique_ptr<sim::BaseStationSim> base_;
    int plays_ = 0;
    Session session_;
};

} // namespace ostrim::test
