#include "app/HeadlessControl.h"

#include "run/ControlProtocol.h"

#ifndef _WIN32
#include "platform/posix/ControlServer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

namespace ostrim {

#ifndef _WIN32

class HeadlessControl::Socket {
public:
    ControlServer server;
};

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

ControlServer::Replies MakeReplies(const ControlServer::Limits& limits)
{
    auto seconds = [](std::chrono::milliseconds time) {
        return std::to_string(time.count() / 1000) + " s";
    };
    return {
        ControlError("busy: " + std::to_string(limits.clients) +
                     " requests at once already; try again"),
        ControlError("the command is longer than " + std::to_string(kMaxControlLine - 1) +
                     " characters"),
        ControlError("no command within " + seconds(limits.requestTime)),
        ControlError("the run did not answer within " + seconds(limits.answerTime) +
                     "; the command may still take effect"),
    };
}

} // namespace

HeadlessControl::HeadlessControl(RunControl& control, const RunState& state, RunMonitor& monitor,
                                 DialogFields& fields)
    : commands_(control, state, monitor, fields)
{
}

HeadlessControl::~HeadlessControl() = default;

std::string HeadlessControl::Open(const std::string& name)
{
    const std::string path =
        ControlSocketPath(name, Environment("RUNTIME_DIRECTORY"), Environment("XDG_RUNTIME_DIR"));
    auto socket = std::make_unique<Socket>();
    ControlServer::Limits limits;
    limits.maxLine = kMaxControlLine;
    // A line that is no command is answered by the server's thread; the run sees commands only.
    auto screen = [](const std::string& line) -> std::optional<std::string> {
        ControlCommand command = ParseControlCommand(line);
        if (command.verb)
            return std::nullopt;
        return ControlError(command.error);
    };
    switch (int err = socket->server.Open(path, MakeReplies(limits), screen, limits)) {
    case 0:
        socket_ = std::move(socket);
        return {};
    case EADDRINUSE:
        return "another run named " + name + " answers on " + path;
    default:
        return "cannot open the control socket " + path + ": " + std::strerror(err);
    }
}

int HeadlessControl::PendingFd() const
{
    return socket_ ? socket_->server.PendingFd() : -1;
}

void HeadlessControl::AnswerPending()
{
    if (socket_)
        socket_->server.AnswerPending([this](const std::string& line) { return commands_.Answer(line); });
}

#else

class HeadlessControl::Socket {};

HeadlessControl::HeadlessControl(RunControl& control, const RunState& state, RunMonitor& monitor,
                                 DialogFields& fields)
    : commands_(control, state, monitor, fields)
{
}

HeadlessControl::~HeadlessControl() = default;

std::string HeadlessControl::Open(const std::string& name)
{
    return "--name " + name + ": the control socket is for Linux only";
}

int HeadlessControl::PendingFd() const
{
    return -1;
}

void HeadlessControl::AnswerPending() {}

#endif

} // namespace ostrim
