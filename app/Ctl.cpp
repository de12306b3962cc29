#include "app/Ctl.h"

#include "platform/posix/ControlClient.h"
#include "run/ControlProtocol.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ostrim {

namespace {

// Long enough for a run whose own thread is busy with a base-station check (a few seconds),
// short enough that a script asking a hung run goes on.
constexpr std::chrono::seconds kReplyTime{10};

} // namespace

int RunCtl(const CommandLine& line)
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    const std::vector<std::string> candidates =
        ControlSocketCandidates(line.controlName, xdg != nullptr ? xdg : "");
    std::string path;
    for (const std::string& candidate : candidates) {
        struct stat info{};
        if (::stat(candidate.c_str(), &info) == 0 || errno == EACCES) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) {
        std::string looked;
        for (const std::string& candidate : candidates)
            looked += (looked.empty() ? "" : " or ") + candidate;
        std::fprintf(stderr, "ostrim ctl: no run named %s is running (no socket at %s)\n",
                     line.controlName.c_str(), looked.c_str());
        return 2;
    }

    std::string reply;
    const int err = AskControlSocket(path, line.controlCommand, kReplyTime, &reply);
    const std::optional<ControlReply> answer = ParseControlReply(reply);
    if (err != 0 || !answer) {
        if (err == EACCES) {
            std::fprintf(stderr,
                         "ostrim ctl: %s: permission denied; the run's group may ask (for the "
                         "service: sudo adduser $USER ostrim, then log in again)\n",
                         path.c_str());
        } else if (err == ECONNREFUSED) {
            std::fprintf(stderr, "ostrim ctl: no run named %s answers on %s (it has ended)\n",
                         line.controlName.c_str(), path.c_str());
        } else {
            std::fprintf(stderr, "ostrim ctl: %s: %s\n", path.c_str(),
                         err != 0 ? std::strerror(err) : "the run's reply is not understood");
        }
        return 2;
    }
    if (!answer->ok) {
        std::fprintf(stderr, "ostrim ctl: %s\n", answer->text.c_str());
        return 1;
    }
    std::fputs(answer->text.c_str(), stdout);
    return 0;
}

} // namespace ostrim
