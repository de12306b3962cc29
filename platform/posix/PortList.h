#pragma once
// The serial devices present on this machine, as the dialog's two port lists show them.
//
// A device is listed when its node exists under /dev and its name is one of the serial kinds
// below. On-board UARTs (ttyS*) get a node for every possible line whether a chip is behind it
// or not, so they are listed only when the kernel has a device and a known UART type for them.
// Where udev made a stable name in /dev/serial/by-id, the entry carries it: USB adapters change
// their ttyUSB number with the plugging order, the stable name does not.

#include <functional>
#include <string>
#include <vector>

namespace ostrim {

struct SerialPortEntry {
    std::string device;     // "/dev/ttyUSB0"
    std::string stableName; // "usb-FTDI_FT232R_USB_UART_A10K-if00-port0", or empty

    // "/dev/ttyUSB0 (usb-FTDI_FT232R_USB_UART_A10K-if00-port0)", or the device path alone.
    std::string Label() const;
};

// Where the listing looks; tests point these at a fake tree.
struct PortListRoots {
    std::string dev = "/dev";
    std::string sysClassTty = "/sys/class/tty";
};

// Whether a UART line has a chip behind it.
enum class UartType { Known, Unknown, CannotAsk };
using UartProbe = std::function<UartType(const std::string& device)>;
// Asks the driver with TIOCGSERIAL; opens the device non-blocking for that.
UartType ProbeUartIoctl(const std::string& device);

// Sorted with numbers compared as numbers (ttyS2 before ttyS10). `probe` is asked only for a
// UART whose sysfs "type" attribute cannot be read.
std::vector<SerialPortEntry> ListSerialPorts(const PortListRoots& roots = {},
                                             const UartProbe& probe = ProbeUartIoctl);

// Whether the device is there now (a USB adapter may come and go).
bool SerialPortPresent(const std::string& path);
// Whether two paths name the same device ("/dev/serial/by-id/usb-..." and the ttyUSB it links
// to do).
bool SameSerialPort(const std::string& a, const std::string& b);

// Orders names as people count: digit runs by value, everything else byte by byte.
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace ostrim
