#pragma once
// The COM ports present on this machine, as the dialog's two port lists show them, and the
// device path a port's name opens.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ostrim {

struct SerialPortEntry {
    std::string device;     // "COM5"
    std::string stableName; // the driver's device behind it ("\Device\Serial0"), or empty

    std::string Label() const { return device; }
};

// One look at the COM ports: their names in the order the system lists them (the dialog's
// counting rule depends on that order), or why there are none to show.
struct ComPortScan {
    std::vector<std::string> systemOrder; // "COM3", "COM1", ...: each once, in upper case
    int error = 0;                        // errno of a scan that failed; no names then

    // The names in number order (COM2 before COM10).
    std::vector<std::string> Ports() const;
};

// Fills `buffer` as QueryDosDeviceA(nullptr, buffer, size) does: the count of characters
// written, or 0 with the Win32 error in `error`.
using DeviceNameQuery =
    std::function<std::size_t(char* buffer, std::size_t size, unsigned long& error)>;

// Asks QueryDosDeviceA for every DOS device name, in a buffer grown until the list fits.
ComPortScan ScanComPorts();
ComPortScan ScanComPorts(const DeviceNameQuery& query);

// The COM ports that QueryDosDeviceA knows, in number order; none when the scan fails.
std::vector<SerialPortEntry> ListSerialPorts();
// The COM names in QueryDosDeviceA's list of DOS device names (zero-terminated names, an empty
// one at the end), in number order.
std::vector<std::string> ComPortsOfDeviceNames(const char* names, std::size_t size);

// The path CreateFileA opens for a port: "COM12" and "com3" give "\\.\COM12" and "\\.\COM3",
// which also reaches ports above 9; a path with a backslash is taken as it is.
std::string ComDevicePath(const std::string& name);
// Whether the port is there now (a USB adapter may come and go).
bool SerialPortPresent(const std::string& name);
// Whether two names open the same port: "COM5", "com5", "\\.\COM5" and a bare "5" do.
bool SameSerialPort(const std::string& a, const std::string& b);

} // namespace ostrim
