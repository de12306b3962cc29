#pragma once
// Owns one file descriptor and closes it when it goes, so no early return leaks one.

#include <unistd.h>

#include <utility>

namespace ostrim {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return Valid(); }

    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }

    // Closes the held descriptor (if any) and takes `fd`. Returns close()'s result for the old
    // one: 0, or -1 with errno set. On Linux the descriptor is gone even when close() reports
    // EINTR, so it is never closed twice.
    int Reset(int fd = -1)
    {
        int old = std::exchange(fd_, fd);
        return old >= 0 ? ::close(old) : 0;
    }

private:
    int fd_ = -1;
};

} // namespace ostrim
