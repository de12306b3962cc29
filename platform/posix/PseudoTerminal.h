#pragma once
// A pseudo-terminal that stands in for a serial device: the program opens the slave path as it
// would open /dev/ttyUSB0, and the device's side (the simulator, or a test) uses the master.
//
// The pair keeps a slave descriptor of its own (the "spare"). Without it the tty would be hung
// up whenever the program closes its side: the master would read EIO and bytes in flight could
// be lost. With it the program may close and reopen the slave as often as it likes. The spare is
// never read, never locked and never made exclusive.
//
// Threads: the master may be read by one thread and written by another; everything else belongs
// to the owner's thread.

#include "platform/posix/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace ostrim {

class PseudoTerminal {
public:
    // Creates the pair, raw on both sides, the master non-blocking. 0 or errno.
    int Open();
    bool IsOpen() const { return master_.Valid(); }
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_.Get(); }

    // Lets another user open the slave (the exclusivity tests run such a user).
    int GiveSlaveTo(uid_t uid, gid_t gid) const;

    // Reads what the program wrote, without waiting: 0 with *got (possibly 0), or errno.
    int ReadMaster(std::uint8_t* buffer, std::size_t size, std::size_t* got) const;
    // Waits up to `timeout` for bytes from the program, then reads what is there.
    int ReadMaster(std::uint8_t* buffer, std::size_t size, std::chrono::milliseconds timeout,
                   std::size_t* got) const;
    // Writes all bytes towards the program, waiting while the tty's buffer is full, for at most
    // `stall` without progress. 0 with *written (short on a stall), or errno.
    int WriteMaster(const std::uint8_t* bytes, std::size_t count, std::chrono::milliseconds stall,
                    std::size_t* written) const;
    // Carrier drop on a real device: the program's side sees hang-up and end of file.
    void CloseMaster();
    // Drops the spare slave descriptor; the tty then goes when the program closes its side.
    void CloseSpareSlave() { spareSlave_.Reset(); }

private:
    UniqueFd master_;
    UniqueFd spareSlave_;
    std::string slavePath_;
};

} // namespace ostrim
