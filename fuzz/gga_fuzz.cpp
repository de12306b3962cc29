// Receiver bytes through sentence assembly, GGA parsing and both logs as real files, so the
// logs' opens, appends and truncations are fuzzed on the file system. The checks are
// in gga_checks.h; gga_memory_fuzz runs them several times faster with the logs in memory.

#include "fuzz/gga_checks.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

using ostrim::fuzz::Check;

// The real files, except that a log the input chose cannot be opened, as if its folder were gone.
class FileStore final : public ostrim::fuzz::GgaLogStore, public ostrim::LogFileSystem {
public:
    explicit FileStore(std::string folder) : folder_(std::move(folder))
    {
        gpsPath = folder_ + "/gps.txt";
        rawPath = folder_ + "/raw.txt";
    }
    ~FileStore() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    ostrim::LogFileSystem& Files() override { return *this; }
    void Reset() override
    {
        // Each input starts from empty logs, so the disk never fills.
        for (const std::string* path : {&gpsPath, &rawPath}) {
            if (ostrim::CreateLogFile(*path) != 0 || ::truncate(path->c_str(), 0) != 0)
                Check(false, "cannot reset a log file", *path);
        }
    }
    std::string Read(const std::string& path) override
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    int Create(const std::string& path) override { return real_.Create(path); }
    int CreateFolder(const std::string& path) override { return real_.CreateFolder(path); }
    int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) override
    {
        const int err = OpenError(path);
        return err != 0 ? err : real_.OpenAppend(path, handle, size);
    }
    int Write(Handle handle, std::string_view bytes, std::size_t& written) override
    {
        return real_.Write(handle, bytes, written);
    }
    int Truncate(Handle handle, std::uint64_t size) override { return real_.Truncate(handle, size); }
    int Close(Handle handle) override { return real_.Close(handle); }

private:
    std::string folder_;
    ostrim::LogFileSystem& real_ = ostrim::SystemLogFileSystem();
};

FileStore* store = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/ostrim-gga-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static FileStore made(pattern);
    store = &made;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ostrim::fuzz::RunGgaInput(data, size, *store);
    return 0;
}
