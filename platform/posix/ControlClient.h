#pragma once
// The asking side of a run's control socket (platform/posix/ControlServer.h): one request, one
// reply, within a time limit.

#include <chrono>
#include <string>

namespace ostrim {

// Connects to the socket at `path`, sends `request` and a line feed, and reads the reply until
// the run closes the connection. 0 with the whole reply, or errno: ENOENT (no socket there),
// ECONNREFUSED (nobody answers on it), EACCES (not allowed to), ETIMEDOUT (no whole reply
// within `timeout`; what came is in `reply`).
int AskControlSocket(const std::string& path, const std::string& request,
                     std::chrono::milliseconds timeout, std::string* reply);

} // namespace ostrim
