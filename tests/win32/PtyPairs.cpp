// The far side of the Windows serial tests, on Linux: four pseudo-terminals that Wine maps as
// COM ports. The first two are joined like a null-modem cable, so a test under Wine plays the
// device on the second port; any byte written to the fourth makes the third one's far side close,
// as when a receiver's adapter is pulled; the fifth is never read, a device that takes no bytes.
// Prints the five slave paths on one line, then relays until it is terminated.

#include "platform/posix/Poll.h"
#include "platform/posix/PseudoTerminal.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

using namespace std::chrono_literals;

int main()
{
    std::array<ostrim::PseudoTerminal, 5> ports;
    for (auto& port : ports) {
        if (int err = port.Open()) {
            std::fprintf(stderr, "ostrim_pty_pairs: %s\n", std::strerror(err));
            return 1;
        }
    }
    for (std::size_t i = 0; i < ports.size(); ++i)
        std::printf(i + 1 < ports.size() ? "%s " : "%s\n", ports[i].SlavePath().c_str());
    std::fflush(stdout);

    bool thirdOpen = true;
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        ostrim::PollEntry entries[4];
        for (std::size_t i = 0; i < 4; ++i) {
            bool watched = i != 2 || thirdOpen;
            entries[i] = {.fd = watched ? ports[i].MasterFd() : -1, .wantRead = true};
        }
        if (ostrim::PollUntil(entries, ostrim::Deadline::Never()) != 0)
            return 1;
        for (std::size_t i = 0; i < 4; ++i) {
            if (!entries[i].readable)
                continue;
            std::size_t got = 0;
            if (ports[i].ReadMaster(buffer.data(), buffer.size(), &got) != 0 || got == 0)
                continue;
            if (i < 2) {
                std::size_t written = 0;
                ports[1 - i].WriteMaster(buffer.data(), got, 2s, &written);
            } else if (i == 3 && thirdOpen) {
                ports[2].CloseMaster();
                thirdOpen = false;
            }
        }
    }
}
