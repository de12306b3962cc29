#include "platform/win32/PortList.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
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

std::vector<SerialPortEntry> ListSerialPorts()
{
    // The list of every DOS device name can be long: grow until it fits.
    std::vector<char> names(16 * 1024);
    for (;;) {
        DWORD got = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (got != 0) {
            names.resize(got);
            break;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= 4 * 1024 * 1024)
            return {};
        names.resize(names.size() * 2);
    }
    std::vector<SerialPortEntry> entries;
    for (const std::string& port : ComPortsOfDeviceNames(names.data(), names.size())) {
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

} // namespace ostrim
