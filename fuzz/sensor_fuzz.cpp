// Sensor-file text through the parser and through LoadSensorFile on a real file, so the open,
// the checks on what the path names and the reads of the file system are fuzzed too. The
// checks are in sensor_checks.h; sensor_memory_fuzz runs them several times faster from memory.

#include "fuzz/sensor_checks.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using ostrim::fuzz::Check;

// Past one of the loader's 64 KiB reads.
constexpr std::size_t kStretchedSize = 96 << 10;

std::string* folder = nullptr;

void CheckLoad(std::string_view text, const std::vector<ostrim::SensorEntry>& expected)
{
    std::string path = *folder + "/sensors.txt";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0, "cannot write the sensor file");
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        Check(n > 0, "cannot write the sensor file");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);

    ostrim::SensorTable table;
    ostrim::RunState state;
    ostrim::test::FakeDialogFields fields;
    ostrim::SensorLoadResult result = ostrim::LoadSensorFile(path, table, state, fields);
    ostrim::fuzz::CheckLoaded(result, table, state, fields, expected);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/ostrim-sensor-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static std::string made = pattern;
    folder = &made;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(*folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string stretched;
    std::string_view text = ostrim::fuzz::SensorText(data, size, kStretchedSize, stretched);
    CheckLoad(text, ostrim::fuzz::CheckParses(text, !stretched.empty(), data, size));
    return 0;
}
