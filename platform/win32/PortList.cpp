#include "platform/win32/PortList.h"

#include "platform/win32/Win32Error.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace ostrim {

namespace {

// The number of a "COMn" name, or 0 when it is none.
int ComNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    }
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
    }
    return std::atoi(name.c_str() + 3);
}

std::string DosName(const std::string& name)
{
    const std::string prefix = "\\\\.\\";
    return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

} // namespace

std::vector<std::string> ComPortsOfDeviceNames(const char* names, std::size_t size)
{
    std::vector<std::string> ports;
    std::size_t at = 0;
    while (at < size && names[at] != '\0') {
        std::size_t end = at;
        while (end < size && names[end] != '\0')
            ++end;
        std::string name(names + at, end - at);
        if (ComNumber(name) > 0) {
            for (char& c : name)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ports.push_back(name);
        }
        at = end + 1;
    }
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return ComNumber(a) < ComNumber(b);
    });
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

ComPortScan ScanComPorts(const DeviceNameQuery& query)
{
    // The list of every DOS device name can be long: grow until it fits.
    constexpr std::size_t kLargest = 4 * 1024 * 1024;
    ComPortScan scan;
    std::vector<char> names(16 * 1024);
    std::size_t got = 0;
    for (;;) {
        unsigned long error = 0;
        got = query(names.data(), names.size(), error);
        if (got != 0)
            break;
        const bool tooSmall = error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA;
        if (!tooSmall || names.size() >= kLargest) {
            scan.error = tooSmall ? ENOBUFS : error == 0 ? EIO : ErrnoOf(error);
            return scan;
        }
        names.resize(names.size() * 2);
    }
    got = std::min(got, names.size());
    for (std::size_t at = 0; at < got && names[at] != '\0';) {
        std::size_t end = at;
        while (end < got && names[end] != '\0')
            ++end;
        std::string name(names.data() + at, end - at);
        at = end + 1;
        if (ComNumber(name) == 0)
            continue;
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::vector<std::string>& listed = scan.systemOrder;
        if (std::find(listed.begin(), listed.end(), name) == listed.end())
            listed.push_back(std::move(name));
    }
    return scan;
}

ComPortScan ScanComPorts()
{
    return ScanComPorts([](char* buffer, std::size_t size, unsigned long& error) -> std::size_t {
        const DWORD got = ::QueryDosDeviceA(nullptr, buffer, static_cast<DWORD>(size));
        error = got == 0 ? ::GetLastError() : 0;
        return got;
    });
}

std::vector<std::string> ComPortScan::Ports() const
{
    std::vector<std::string> ports = systemOrder;
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return ComNumber(a) < ComNumber(b);
    });
    return ports;
}

std::vector<SerialPortEntry> ListSerialPorts()
{
    std::vector<SerialPortEntry> entries;
    for (const std::string& port : ScanComPorts().Ports()) {
        SerialPortEntry entry{port, {}};
        char target[512];
        if (::QueryDosDeviceA(port.c_str(), target, sizeof target) != 0)
            entry.stableName = target;
        entries.push_back(entry);
    }
    return entries;
}

std::string ComDevicePath(const std::string& name)
{
    if (name.empty() || name.find('\\') != std::string::npos)
        return name;
    if (ComNumber(name) == 0)
        return name;
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "\\\\.\\" + upper;
}

bool SerialPortPresent(const std::string& name)
{
    char target[512];
    return !name.empty() && ::QueryDosDeviceA(DosName(name).c_str(), target, sizeof target) != 0;
}

bool SameSerialPort(const std::string& a, const std::string& b)
{
    auto normal = [](const std::string& name) {
        std::string port = DosName(name);
        const bool bare = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
        if (bare && port.size() <= 3)
            port = "COM" + port;
        for (char& c : port)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const int number = ComNumber(port);
        return number > 0 ? "COM" + std::to_string(number) : port;
    };
    return !a.empty() && !b.empty() && normal(a) == normal(b);
}

} // namespace ostrim
