#include "tools/sim/GpsReceiverSim.h"

#include "tools/sim/Nmea.h"

#include "platform/posix/EventFd.h"
#include "platform/posix/Poll.h"
#include "tools/sim/SimDevice.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ostrim::sim {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// A sentence's k-th line, or nothing past the end.
using Source = std::function<std::optional<std::string>(std::size_t k)>;

struct Job {
    Source source;
    SteadyClock::duration interval{};
};

SteadyClock::duration Interval(double perSecond)
{
    return std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(1.0 / perSecond));
}

} // namespace

struct GpsReceiverSim::Impl {
    SimDevice device;
    EventFd newJob;

    std::mutex mutex;
    std::optional<Job> pending; // handed to the thread under the mutex
    std::atomic<bool> finished{false};
    std::atomic<std::size_t> sent{0};

    void Run();
    // Waits until `when`; false when stopped, and `*interrupted` when a new job came.
    bool WaitUntil(SteadyClock::time_point when, bool* interrupted);
    enum class SendResult { Sent, Stopped, Failed };
    SendResult Send(const std::string& sentence);
    void Give(Job job);
};

bool GpsReceiverSim::Impl::WaitUntil(SteadyClock::time_point when, bool* interrupted)
{
    *interrupted = false;
    PollEntry entries[2] = {{.fd = device.StopEvent().Fd(), .wantRead = true},
                            {.fd = newJob.Fd(), .wantRead = true}};
    if (PollUntil(entries, Deadline::At(when)) != 0 || entries[0].readable)
        return false;
    *interrupted = entries[1].readable;
    return true;
}

GpsReceiverSim::Impl::SendResult GpsReceiverSim::Impl::Send(const std::string& sentence)
{
    auto bytes = reinterpret_cast<const std::uint8_t*>(sentence.data());
    std::size_t done = 0;
    while (done < sentence.size()) {
        std::size_t written = 0;
        // Short stalls, so that a stop is seen while the program is not reading.
        if (device.Pty().WriteMaster(bytes + done, sentence.size() - done, 100ms, &written) != 0)
            return SendResult::Failed;
        done += written;
        if (done < sentence.size()) {
            PollEntry wait{.fd = device.StopEvent().Fd(), .wantRead = true};
            if (PollUntil({&wait, 1}, Deadline::After(0ms)) != 0 || wait.readable)
                return SendResult::Stopped;
        }
    }
    return SendResult::Sent;
}

void GpsReceiverSim::Impl::Run()
{
    std::optional<Job> job;
    std::size_t k = 0;
    SteadyClock::time_point start;
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (pending) {
                newJob.Clear();
                job = std::move(pending);
                pending.reset();
                finished.store(false);
                k = 0;
                start = SteadyClock::now();
            }
        }
        bool interrupted = false;
        if (!job || finished.load()) {
            if (!WaitUntil(SteadyClock::time_point::max(), &interrupted))
                return;
            continue;
        }
        SteadyClock::time_point due = start + job->interval * static_cast<long>(k);
        // After a long stall (nobody reading) carry on at the rate instead of bursting.
        if (SteadyClock::now() - due > 1s) {
            start = SteadyClock::now() - job->interval * static_cast<long>(k);
            due = SteadyClock::now();
        }
        if (!WaitUntil(due, &interrupted))
            return;
        if (interrupted)
            continue;
        std::optional<std::string> sentence = job->source(k);
        if (!sentence) {
            std::lock_guard lock(mutex);
            if (!pending) // a job given meanwhile is not finished
                finished.store(true);
            continue;
        }
        SendResult result = Send(*sentence);
        if (result == SendResult::Stopped)
            return;
        // A failed write (the tty gone, which the spare slave prevents) loses only that line.
        if (result == SendResult::Sent)
            ++sent;
        ++k;
    }
}

void GpsReceiverSim::Impl::Give(Job job)
{
    std::lock_guard lock(mutex);
    pending = std::move(job);
    finished.store(false);
    newJob.Raise();
}

GpsReceiverSim::GpsReceiverSim() : impl_(std::make_unique<Impl>()) {}

GpsReceiverSim::~GpsReceiverSim()
{
    Stop();
}

bool GpsReceiverSim::Start(std::string* error)
{
    Stop();
    if (int err = impl_->newJob.Create()) {
        if (error != nullptr)
            *error = std::string("cannot create the GPS receiver's event: ") + std::strerror(err);
        return false;
    }
    return impl_->device.Start("GPS receiver", [impl = impl_.get()] { impl->Run(); }, error);
}

std::string GpsReceiverSim::DevicePath() const
{
    return impl_->device.Pty().SlavePath();
}

bool GpsReceiverSim::PlayFile(const std::string& path, double sentencesPerSecond,
                              std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr)
            *error = "cannot read the NMEA file " + path;
        return false;
    }
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto lines = std::make_shared<std::vector<std::string>>();
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        end = end == std::string::npos ? all.size() : end + 1;
        if (all[at] != '#') // the capture's description, not receiver output
            lines->push_back(all.substr(at, end - at));
        at = end;
    }
    if (!(sentencesPerSecond > 0) || !std::isfinite(sentencesPerSecond))
        sentencesPerSecond = kOwnPace;
    impl_->Give(Job{.source = [lines](std::size_t k) -> std::optional<std::string> {
                        if (k >= lines->size())
                            return std::nullopt;
                        return (*lines)[k];
                    },
                    .interval = Interval(sentencesPerSecond)});
    return true;
}

void GpsReceiverSim::DriveTrack(const Track& track, double speedMetresPerSecond,
                                double fixesPerSecond)
{
    if (!(fixesPerSecond > 0) || !std::isfinite(fixesPerSecond))
        fixesPerSecond = 1.0;
    if (!(speedMetresPerSecond >= 0) || !std::isfinite(speedMetresPerSecond))
        speedMetresPerSecond = 0.0;
    double step = speedMetresPerSecond / fixesPerSecond;
    double length = TrackLength(track);
    impl_->Give(Job{.source = [track, step, length](std::size_t k) -> std::optional<std::string> {
                        double along = step * static_cast<double>(k);
                        // An open track ends with a fix on its last waypoint.
                        if (!track.closed && k > 0 && step * static_cast<double>(k - 1) >= length)
                            return std::nullopt;
                        auto [lat, lon] = PositionAlong(track, along);
                        return FormatGga(std::chrono::system_clock::now(), lat, lon);
                    },
                    .interval = Interval(fixesPerSecond)});
}

void GpsReceiverSim::Halt()
{
    impl_->Give(Job{.source = [](std::size_t) -> std::optional<std::string> { return std::nullopt; },
                    .interval = Interval(kOwnPace)});
}

void GpsReceiverSim::Stop()
{
    impl_->device.Stop();
}

bool GpsReceiverSim::Finished() const
{
    return impl_->finished.load();
}

std::size_t GpsReceiverSim::SentencesSent() const
{
    return impl_->sent.load();
}

} // namespace ostrim::sim
