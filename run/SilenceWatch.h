#pragma once
// Tells the operator when the GPS port, open for a run, gives no accepted sentence: a receiver
// gone quiet, or the base station's port picked as GPS port, looks otherwise like a good run
// whose fields have frozen.
//
// Thread rule: one thread (the front end's GUI thread) calls all of it. It never reads the
// port: the caller hands it the count of accepted sentences, which the reader thread raises.

#include <chrono>
#include <cstdint>
#include <string>

namespace ostrim {

class SilenceWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLimit{5};

    // A run now listens on `port`; `accepted` is the count of accepted sentences so far.
    void Arm(const std::string& port, Clock::time_point now, std::uint64_t accepted);
    void Disarm() { armed_ = false; }

    // Call about once a second. Returns the text to show when the port has just been silent
    // for kLimit, empty otherwise: one text per silence, another after data came and went again.
    std::string Check(Clock::time_point now, std::uint64_t accepted);

    // The port is silent now (the text has been returned and no sentence came since).
    bool Silent() const { return armed_ && told_; }

    static std::string Text(const std::string& port);

private:
    bool armed_ = false;
    bool told_ = false;
    std::string port_;
    Clock::time_point last_{};
    std::uint64_t accepted_ = 0;
};

} // namespace ostrim
