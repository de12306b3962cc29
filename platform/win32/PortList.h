#pragma once
// The COM ports present on this machine, as the dialog's two port lists show them, and the
// device path a port's name opens.

#include <cstddef>
#include <string>
#include <vector>

namespace ostrim {

struct SerialPortEntry {
    std::string device;     // "COM5"
    std::string stableName; // the driver's device behind it ("\Device\Serial0"), or empty

    std::string Label() const { return device; }
};

// The COM ports that QueryDosDeviceA knows, in number order (COM2 before COM10).
std::vector<SerialPortEntry> ListSerialPorts();
// The COM names in QueryDosDeviceA's list of DOS device names (zero-terminated names, an empty
// one at the end), in number order.
std::vector<std::string> ComPortsOfDeviceNames(const char* names, std::size_t size);

// The path CreateFileA opens for a port: "COM12" and "com3" give "\\.\COM12" and "\\.\COM3",
// which also reaches ports above 9; a path with a backslash is taken as it is.
std::string ComDevicePath(const std::string& name);
// Whether the port is there now (a USB adapter may come and go).
bool SerialPortPresent(const std::string& name);

} // namespace ostrim
