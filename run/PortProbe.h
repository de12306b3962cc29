#pragma once
// Which port the GPS receiver talks on, found by listening. When a dialog opens it listens for a
// moment on each port of its lists at once, in the background; the GPS Port list then selects
// the port where a GGA sentence was heard, and the Base Station list another port, a quiet one.
// Where no GGA is heard, the counting rule of PortPreselection stands.
//
// Thread rule: PortProbe's Start and Cancel run on one thread (the GUI thread); `done` runs on
// the probe's own thread. ChoosePorts and the texts are plain functions.

#include "platform/PortListen.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ostrim {

// What listening on one port found.
enum class PortHeard {
    Quiet,      // open, and no NMEA sentence came
    Nmea,       // NMEA sentences, but none that gives a fix here
    Gga,        // a $GPGGA or $GNGGA sentence: a receiver the run can use
    InUse,      // another program holds the port
    CannotOpen, // not there, or not a serial port
};

struct PortFinding {
    std::string device;
    PortHeard heard = PortHeard::Quiet;
    int error = 0; // errno for InUse and CannotOpen
};

// Tells what a byte stream holds: whole NMEA sentences, each checked by its checksum where it
// has one. Lines longer than a sentence can be are noise, as is anything at the wrong speed.
class NmeaSniffer {
public:
    void Add(std::string_view bytes);
    bool HeardGga() const { return gga_; }
    bool HeardNmea() const { return nmea_; }

private:
    void Line();
    std::string line_;
    bool overlong_ = false;
    bool gga_ = false;
    bool nmea_ = false;
};

class PortProbe {
public:
    // A receiver sends at 1 Hz or faster: listening opened mid-sentence still hears a whole
    // GGA within a second and a bit.
    static constexpr std::chrono::milliseconds kListenFor{1500};
    using Done = std::function<void(std::vector<PortFinding> findings)>;

    explicit PortProbe(PortListen listen, std::chrono::milliseconds listenFor = kListenFor);
    ~PortProbe();
    PortProbe(const PortProbe&) = delete;
    PortProbe& operator=(const PortProbe&) = delete;

    // Listens on every device at once, each on a thread of its own, and then hands `done` one
    // finding a device, in the order given. Cancels a probe still running first.
    void Start(std::vector<std::string> devices, Done done);
    // Stops listening and returns once every port is closed again (within a tenth of a second
    // or so); `done` is not called for a probe cancelled before its end.
    void Cancel();

private:
    PortListen listen_;
    std::chrono::milliseconds listenFor_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The lists' selections after a probe.
struct PortChoice {
    std::optional<std::size_t> gps;  // index into the entries; none for no selection
    std::optional<std::size_t> base;
    std::string status; // what was heard, for the status line; empty when nothing was probed
};

// `entries` (device names, both lists hold them in this order) and `labels` (as the lists show
// them); `findings` for some of the entries. `now` is what the lists select now (the counting
// rule's choice, or a port named on the command line); a list that is `held` (named, or already
// chosen by the operator) keeps its selection. Once the GPS port is known (heard, or held), the
// Base Station list moves off it, and off a port that talks NMEA, to a quiet port where there
// is one; never to a port where GGA was heard.
PortChoice ChoosePorts(const std::vector<std::string>& entries,
                       const std::vector<std::string>& labels,
                       const std::vector<PortFinding>& findings, const PortChoice& now,
                       bool gpsHeld, bool baseHeld);

// The status text for a port list that could not be made (errno `error`): not the same as a
// machine without ports.
std::string PortScanFailedText(int error);

// The question asked before Start when both lists name the same port, `label` as the lists
// show it.
std::string SamePortQuestion(const std::string& label);

} // namespace ostrim
