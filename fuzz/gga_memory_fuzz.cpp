// The checks of gga_fuzz with both logs in memory, so an input costs no file-system call.
//
// In memory the logs can also fail as a full disk does: with bit 0x20 of the last byte set, the
// lines that gga_fuzz meets with logs that cannot be opened meet a store with room for only part of a
// record instead. A write that stops part way must be cut back and written whole later.

#include "fuzz/gga_checks.h"
#include "tests/support/MemoryLogFiles.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using ostrim::test::MemoryLogFiles;

class MemoryStore final : public ostrim::fuzz::GgaLogStore, public ostrim::LogFileSystem {
public:
    explicit MemoryStore(bool diskFull) : diskFull_(diskFull)
    {
        gpsPath = "/logs/gps.txt";
        rawPath = "/logs/raw.txt";
    }

    ostrim::LogFileSystem& Files() override { return *this; }
    void Reset() override
    {
        files_.Create(gpsPath);
        files_.Create(rawPath);
    }
    std::string Read(const std::string& path) override { return files_.Contents(path); }
    void Outage(std::size_t lineIndex, bool gps, bool raw) override
    {
        if (!diskFull_) {
            GgaLogStore::Outage(lineIndex, gps, raw);
            return;
        }
        // Room for none, some or all of a record; both logs share the disk.
        files_.SetRoom(gps || raw ? 64 * (lineIndex % 4) : MemoryLogFiles::kUnlimited);
    }

    int Create(const std::string& path) override
    {
        const int err = OpenError(path);
        return err != 0 ? err : files_.Create(path);
    }
    int CreateFolder(const std::string& path) override { return files_.CreateFolder(path); }
    int OpenAppend(const std::string& path, Handle& handle, std::uint64_t& size) override
    {
        const int err = OpenError(path);
        return err != 0 ? err : files_.OpenAppend(path, handle, size);
    }
    int Write(Handle handle, std::string_view bytes, std::size_t& written) override
    {
        return files_.Write(handle, bytes, written);
    }
    int Truncate(Handle handle, std::uint64_t size) override
    {
        return files_.Truncate(handle, size);
    }
    int Close(Handle handle) override { return files_.Close(handle); }

private:
    bool diskFull_;
    MemoryLogFiles files_;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemoryStore store(size > 0 && (data[size - 1] & 0x20) != 0);
    ostrim::fuzz::RunGgaInput(data, size, store);
    return 0;
}
