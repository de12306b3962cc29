#include "run/SilenceWatch.h"

namespace ostrim {

void SilenceWatch::Arm(const std::string& port, Clock::time_point now, std::uint64_t accepted)
{
    armed_ = true;
    told_ = false;
    port_ = port;
    last_ = now;
    accepted_ = accepted;
}

std::string SilenceWatch::Check(Clock::time_point now, std::uint64_t accepted)
{
    if (!armed_)
        return {};
    if (accepted != accepted_) {
        accepted_ = accepted;
        last_ = now;
        told_ = false;
        return {};
    }
    if (told_ || now - last_ < kLimit)
        return {};
    told_ = true;
    return Text(port_);
}

std::string SilenceWatch::Text(const std::string& port)
{
    return "No data from the GPS receiver on " + port + " for " +
           std::to_string(kLimit.count()) + " s";
}

} // namespace ostrim
