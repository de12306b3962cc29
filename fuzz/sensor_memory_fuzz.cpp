// The sensor-file checks of sensor_fuzz, with the file's bytes served from memory through the
// loader's read function, so an input costs no file-system write or read. Only the open of one
// empty file stays; the loader needs a regular file to open.
//
// Served from memory, the reads can also do what a disk seldom does: return short pieces,
// fail with EINTR (the loader must read on, with the same entries), or fail part way with EIO
// (the loader must report it and leave the table, the triggering and the entries as they were).

#include "fuzz/sensor_checks.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using ostrim::fuzz::Check;

// Past two of the short reads below. A stretched input costs its length several times over,
// and libFuzzer keeps many of them: sensor_fuzz's 96 KiB would slow this target to its pace.
constexpr std::size_t kStretchedSize = 2 << 10;

std::string* emptyFile = nullptr;

enum class Fault { None, Interrupt, Fail };

struct Served {
    std::string_view text;
    std::size_t offset = 0;
    std::size_t piece = 0;
    Fault fault = Fault::None;
    int reads = 0;
    bool failed = false;
};

Served served;

long ServeRead(int, void* buffer, std::size_t size)
{
    ++served.reads;
    if (served.fault == Fault::Interrupt && served.reads % 2 == 1) {
        errno = EINTR;
        return -1;
    }
    if (served.fault == Fault::Fail && served.reads == 2) {
        served.failed = true;
        errno = EIO;
        return -1;
    }
    std::size_t n = std::min({size, served.piece, served.text.size() - served.offset});
    std::memcpy(buffer, served.text.data() + served.offset, n);
    served.offset += n;
    return static_cast<long>(n);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/ostrim-sensor-memory-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static std::string made = pattern + "/sensors.txt";
    int fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(made.c_str());
        std::abort();
    }
    ::close(fd);
    emptyFile = &made;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(*emptyFile).parent_path(), ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string stretched;
    std::string_view text = ostrim::fuzz::SensorText(data, size, kStretchedSize, stretched);
    std::vector<ostrim::SensorEntry> entries =
        ostrim::fuzz::CheckParses(text, !stretched.empty(), data, size);

    // The byte that sets sensor_fuzz's piece size also sets the reads: their size in its bits
    // 3-4, a fault in one input of eight each (bits 5-7).
    std::uint8_t choice = size > 0 ? data[size / 2] : 0;
    static constexpr std::size_t kPieces[] = {std::size_t{1} << 20, 1, 1021, 5};
    served = Served{};
    served.text = text;
    served.piece = kPieces[choice >> 3 & 3];
    if (served.piece == 1 && text.size() > ostrim::fuzz::kReferenceLimit)
        served.piece = 1021;
    served.fault = (choice >> 5) == 6 ? Fault::Interrupt
                   : (choice >> 5) == 7 ? Fault::Fail
                                        : Fault::None;

    // A table loaded before, to see that a failed load leaves it alone.
    ostrim::SensorTable table;
    table.latitude[0] = 45.25;
    table.longitude[0] = 93.75;
    table.nodeId[0] = 0x4070BF7B;
    table.triggered[0].store(1);
    table.count.store(1);
    ostrim::RunState state;
    ostrim::test::FakeDialogFields fields;
    ostrim::SensorLoadResult result =
        ostrim::LoadSensorFile(*emptyFile, table, state, fields, ServeRead);
    if (!served.failed) {
        ostrim::fuzz::CheckLoaded(result, table, state, fields, entries);
        return 0;
    }
    Check(result.cause == ostrim::FileErrorCause::Generic &&
              result.message == ostrim::FileErrorText(result.cause, *emptyFile),
          "a failed read was not reported as an unknown error");
    Check(fields.Messages() == std::vector<std::string>{result.message} &&
              fields.Status() == "Unable to read Sensor file",
          "a failed read did not tell the operator");
    Check(result.count == 1 && table.count.load() == 1 && table.latitude[0] == 45.25 &&
              table.longitude[0] == 93.75 && table.nodeId[0] == 0x4070BF7B &&
              table.triggered[0].load() == 1 && state.triggerEnabled.load() == 1,
          "a failed read changed the table or the triggering");
    return 0;
}
