#include "run/PortProbe.h"

#include <cerrno>
#include <system_error>

namespace ostrim {

namespace {

// NMEA allows 82 characters with the line end; some receivers send longer proprietary lines.
constexpr std::size_t kLongestLine = 255;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsAddressCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Best first: a port to preselect for the base station.
int BaseRank(const PortHeard* heard)
{
    if (heard == nullptr)
        return 1; // not listened on: nothing known against it
    switch (*heard) {
    case PortHeard::Quiet:
        return 0;
    case PortHeard::InUse:
    case PortHeard::CannotOpen:
        return 2;
    case PortHeard::Nmea:
    case PortHeard::Gga:
        return 3;
    }
    return 3;
}

std::string Joined(const std::vector<std::string>& texts)
{
    std::string joined;
    for (const std::string& text : texts)
        joined += (joined.empty() ? "" : ", ") + text;
    return joined;
}

} // namespace

void NmeaSniffer::Add(std::string_view bytes)
{
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            Line();
            continue;
        }
        if (line_.size() < kLongestLine)
            line_ += c;
        else
            overlong_ = true;
    }
}

// Example: $GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*69
void NmeaSniffer::Line()
{
    std::string line;
    line.swap(line_);
    const bool overlong = overlong_;
    overlong_ = false;
    // A sentence may begin after noise (a listen that started mid-line at another speed).
    const std::size_t start = line.rfind('$');
    if (overlong || start == std::string::npos)
        return;
    std::string_view sentence = std::string_view(line).substr(start);
    // The address: talker and type, five characters, then a comma.
    if (sentence.size() < 7 || sentence[6] != ',')
        return;
    for (std::size_t i = 1; i < 6; ++i) {
        if (!IsAddressCharacter(sentence[i]))
            return;
    }
    // The run takes sentences without a checksum; one that has a checksum must match it.
    const std::size_t star = sentence.find('*');
    if (star != std::string_view::npos) {
        if (sentence.size() != star + 3 || HexValue(sentence[star + 1]) < 0 ||
            HexValue(sentence[star + 2]) < 0)
            return;
        int sum = 0;
        for (std::size_t i = 1; i < star; ++i)
            sum ^= static_cast<unsigned char>(sentence[i]);
        if (sum != HexValue(sentence[star + 1]) * 16 + HexValue(sentence[star + 2]))
            return;
    }
    nmea_ = true;
    const std::string_view address = sentence.substr(1, 5);
    if (address == "GPGGA" || address == "GNGGA")
        gga_ = true;
}

PortProbe::PortProbe(PortListen listen, std::chrono::milliseconds listenFor)
    : listen_(std::move(listen)), listenFor_(listenFor)
{
}

PortProbe::~PortProbe()
{
    Cancel();
}

void PortProbe::Start(std::vector<std::string> devices, Done done)
{
    Cancel();
    stop_.store(false);
    thread_ = std::thread([this, devices = std::move(devices), done = std::move(done)] {
        std::vector<PortFinding> findings(devices.size());
        auto listenOn = [this](PortFinding& finding) {
            NmeaSniffer sniffer;
            const ListenResult result =
                listen_(finding.device, listenFor_, stop_, [&sniffer](std::string_view bytes) {
                    sniffer.Add(bytes);
                    return !sniffer.HeardGga(); // enough: the port is free again sooner
                });
            finding.error = result.error;
            switch (result.kind) {
            case ListenResult::Kind::InUse:
                finding.heard = PortHeard::InUse;
                break;
            case ListenResult::Kind::CannotOpen:
                finding.heard = PortHeard::CannotOpen;
                break;
            case ListenResult::Kind::Listened:
                finding.heard = sniffer.HeardGga()    ? PortHeard::Gga
                                : sniffer.HeardNmea() ? PortHeard::Nmea
                                                      : PortHeard::Quiet;
                break;
            }
        };
        std::vector<std::thread> listeners;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            findings[i].device = devices[i];
            try {
                listeners.emplace_back(listenOn, std::ref(findings[i]));
            } catch (const std::system_error&) {
                findings[i].heard = PortHeard::CannotOpen;
                findings[i].error = EAGAIN;
            }
        }
        for (std::thread& listener : listeners)
            listener.join();
        if (!stop_.load() && done)
            done(std::move(findings));
    });
}

void PortProbe::Cancel()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

PortChoice ChoosePorts(const std::vector<std::string>& entries,
                       const std::vector<std::string>& labels,
                       const std::vector<PortFinding>& findings, const PortChoice& now,
                       bool gpsHeld, bool baseHeld)
{
    auto heardOn = [&](std::size_t entry) -> const PortHeard* {
        for (const PortFinding& finding : findings) {
            if (finding.device == entries[entry])
                return &finding.heard;
        }
        return nullptr;
    };
    auto labelOf = [&](std::size_t entry) {
        return entry < labels.size() ? labels[entry] : entries[entry];
    };

    PortChoice choice{now.gps, now.base, {}};
    std::vector<std::size_t> receivers;
    std::vector<std::string> listened;
    std::vector<std::string> held;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PortHeard* heard = heardOn(i);
        if (heard == nullptr)
            continue;
        if (*heard == PortHeard::Gga)
            receivers.push_back(i);
        else if (*heard == PortHeard::Quiet || *heard == PortHeard::Nmea)
            listened.push_back(labelOf(i));
        else if (*heard == PortHeard::InUse)
            held.push_back(labelOf(i));
    }

    if (!gpsHeld && !receivers.empty())
        choice.gps = receivers.front();
    const bool gpsKnown = choice.gps && (gpsHeld || !receivers.empty());
    if (!baseHeld && gpsKnown) {
        std::optional<std::size_t> best;
        int bestRank = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const PortHeard* heard = heardOn(i);
            // Another receiver's port is no base station's.
            if (i == *choice.gps || (heard != nullptr && *heard == PortHeard::Gga))
                continue;
            const int rank = BaseRank(heard);
            // Among equals the current selection stays: it is the counting rule's.
            if (!best || rank < bestRank || (rank == bestRank && choice.base == i)) {
                best = i;
                bestRank = rank;
            }
        }
        if (best)
            choice.base = best;
    }

    if (!receivers.empty()) {
        choice.status = "GPS receiver heard on " + labelOf(receivers.front());
        std::vector<std::string> others;
        for (std::size_t k = 1; k < receivers.size(); ++k)
            others.push_back(labelOf(receivers[k]));
        if (!others.empty())
            choice.status += " (GGA also on " + Joined(others) + ")";
    } else if (!findings.empty()) {
        choice.status = "No GPS receiver heard";
        if (!listened.empty())
            choice.status += " on " + Joined(listened);
        if (!held.empty())
            choice.status += "; in use by another program: " + Joined(held);
    }
    return choice;
}

std::string PortScanFailedText(int error)
{
    return "The serial ports could not be listed: " + std::generic_category().message(error);
}

std::string SamePortQuestion(const std::string& label)
{
    return "GPS Port and Base Station are both " + label +
           ": the base station cannot be reached on the GPS receiver's port. Start anyway?";
}

} // namespace ostrim
