#include "platform/posix/PortList.h"

#include "platform/posix/UniqueFd.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace ostrim {

namespace fs = std::filesystem;

namespace {

struct Kind {
    std::string_view prefix;
    bool uart; // node exists for every possible line: ask the kernel whether a chip is there
};

// USB adapters, CDC-ACM receivers, SoC UARTs and Bluetooth serial links; each exists only
// while its hardware does, except the 8250-style ttyS lines.
constexpr std::array kKinds{
    Kind{"ttyUSB", false}, Kind{"ttyACM", false}, Kind{"ttyAMA", false},
    Kind{"ttymxc", false}, Kind{"ttyTHS", false}, Kind{"rfcomm", false},
    Kind{"ttyS", true},
};

const Kind* KindOf(std::string_view name)
{
    for (const Kind& kind : kKinds) {
        if (name.size() <= kind.prefix.size() || name.substr(0, kind.prefix.size()) != kind.prefix)
            continue;
        std::string_view number = name.substr(kind.prefix.size());
        if (std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return &kind;
    }
    return nullptr;
}

bool Exists(const fs::path& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The "type" attribute of a serial-core line: 0 is PORT_UNKNOWN.
UartType SysfsUartType(const fs::path& ttyDir)
{
    std::ifstream in(ttyDir / "type");
    int type = 0;
    if (!(in >> type))
        return UartType::CannotAsk;
    return type == PORT_UNKNOWN ? UartType::Unknown : UartType::Known;
}

bool UartPresent(const std::string& name, const std::string& device, const PortListRoots& roots,
                 const UartProbe& probe)
{
    fs::path ttyDir = fs::path(roots.sysClassTty) / name;
    if (!Exists(ttyDir / "device"))
        return false;
    UartType type = SysfsUartType(ttyDir);
    if (type == UartType::CannotAsk && probe)
        type = probe(device);
    return type != UartType::Unknown;
}

// Device path (lexically normal) -> by-id name. The first name in sorted order wins when a
// device has several.
std::map<std::string, std::string> StableNames(const fs::path& devRoot)
{
    std::map<std::string, std::string> names;
    fs::path byId = devRoot / "serial" / "by-id";
    std::error_code ec;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink(ec))
            links.push_back(it->path());
    }
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        fs::path target = fs::read_symlink(link, ec);
        if (ec)
            continue;
        if (target.is_relative())
            target = byId / target;
        names.emplace(target.lexically_normal().string(), link.filename().string());
    }
    return names;
}

} // namespace

std::string SerialPortEntry::Label() const
{
    return stableName.empty() ? device : device + " (" + stableName + ")";
}

UartType ProbeUartIoctl(const std::string& device)
{
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return UartType::CannotAsk;
    serial_struct info{};
    if (::ioctl(fd.Get(), TIOCGSERIAL, &info) != 0)
        return UartType::CannotAsk;
    return info.type == PORT_UNKNOWN ? UartType::Unknown : UartType::Known;
}

std::vector<SerialPortEntry> ListSerialPorts(const PortListRoots& roots, const UartProbe& probe)
{
    fs::path devRoot(roots.dev);
    std::map<std::string, std::string> stable = StableNames(devRoot);

    std::vector<SerialPortEntry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(devRoot, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        const Kind* kind = KindOf(name);
        if (kind == nullptr)
            continue;
        std::string device = (devRoot / name).lexically_normal().string();
        if (kind->uart && !UartPresent(name, device, roots, probe))
            continue;
        auto found = stable.find(device);
        entries.push_back({device, found == stable.end() ? std::string() : found->second});
    }
    std::sort(entries.begin(), entries.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return NaturalLess(a.device, b.device);
    });
    return entries;
}

bool SerialPortPresent(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

bool SameSerialPort(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    std::error_code ignored;
    return a == b || std::filesystem::equivalent(a, b, ignored);
}

bool NaturalLess(const std::string& a, const std::string& b)
{
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t iEnd = i;
            std::size_t jEnd = j;
            while (iEnd < a.size() && isDigit(a[iEnd]))
                ++iEnd;
            while (jEnd < b.size() && isDigit(b[jEnd]))
                ++jEnd;
            // Compare by value without converting: skip leading zeros, then length, then digits.
            std::size_t iStart = i;
            std::size_t jStart = j;
            while (iStart + 1 < iEnd && a[iStart] == '0')
                ++iStart;
            while (jStart + 1 < jEnd && b[jStart] == '0')
                ++jStart;
            std::string_view x(a.data() + iStart, iEnd - iStart);
            std::string_view y(b.data() + jStart, jEnd - jStart);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = iEnd;
            j = jEnd;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // equal by value ("ttyS01" vs "ttyS1"): keep a strict order
}

} // namespace ostrim
