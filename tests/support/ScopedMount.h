#pragma once
// A small tmpfs mounted for one test, so a test can make a log folder read-only or full for
// real. Mounting needs privilege; where it is refused the test skips and says why.

#include <sys/mount.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace ostrim::test {

class ScopedMount {
public:
    // Mounts a tmpfs of `sizeBytes` on the existing folder `path`. Error() tells why not.
    ScopedMount(std::string path, std::size_t sizeBytes)
        : path_(std::move(path)), options_("size=" + std::to_string(sizeBytes) + ",mode=0755")
    {
        if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options_.c_str()) != 0)
            error_ = errno;
        else
            mounted_ = true;
    }
    ~ScopedMount()
    {
        if (!mounted_)
            return;
        // A writer that has just opened a log makes the folder busy for a moment; after that,
        // detach rather than leave a mount behind.
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (::umount2(path_.c_str(), 0) == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::umount2(path_.c_str(), MNT_DETACH);
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    bool Mounted() const { return mounted_; }
    std::string Error() const
    {
        return "cannot mount a tmpfs on " + path_ + ": " + std::strerror(error_);
    }

    // Read-only for everyone, root included. 0 or errno.
    int Remount(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        // A file open for writing at this instant makes a read-only remount fail with EBUSY.
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (::mount(nullptr, path_.c_str(), nullptr, flags, options_.c_str()) == 0)
                return 0;
            if (errno != EBUSY)
                return errno;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return EBUSY;
    }

private:
    std::string path_;
    std::string options_;
    bool mounted_ = false;
    int error_ = 0;
};

} // namespace ostrim::test
