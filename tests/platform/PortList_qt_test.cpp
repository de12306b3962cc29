// The port listing against a fake /dev and /sys/class/tty tree. Needs no Qt; it sits with the
// dialog's tests because the dialog is its only user.

#include "platform/posix/PortList.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace ostrim {
namespace {

namespace fs = std::filesystem;

class FakeTree {
public:
    FakeTree()
    {
        fs::create_directories(Dev());
        fs::create_directories(Sys());
    }
    fs::path Dev() const { return dir_.Path() / "dev"; }
    fs::path Sys() const { return dir_.Path() / "sys" / "class" / "tty"; }
    PortListRoots Roots() const { return {Dev().string(), Sys().string()}; }

    void Node(const std::string& name) { std::ofstream(Dev() / name).put('\0'); }
    // A tty line known to the kernel; `type` empty: no "type" attribute.
    void SysTty(const std::string& name, bool device, const std::string& type)
    {
        fs::create_directories(Sys() / name);
        if (device)
            fs::create_directory_symlink("../../devices/platform/serial8250", Sys() / name / "device");
        if (!type.empty())
            std::ofstream(Sys() / name / "type") << type << "\n";
    }
    void ById(const std::string& name, const fs::path& target)
    {
        fs::create_directories(Dev() / "serial" / "by-id");
        fs::create_symlink(target, Dev() / "serial" / "by-id" / name);
    }

private:
    test::ScratchFolder dir_;
};

TEST(PortList, MixedDevices_ListsSerialPortsInNaturalOrderWithStableNames)
{
    FakeTree tree;
    for (const char* name : {"ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyAMA0", "rfcomm0",
                             "ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "tty0", "tty1",
                             "ttyUSBx", "ttyS", "console", "ptmx", "ttyprintk"})
        tree.Node(name);
    tree.SysTty("ttyS0", true, "4");  // a 16550A
    tree.SysTty("ttyS1", true, "0");  // PORT_UNKNOWN: no chip behind the line
    tree.SysTty("ttyS2", false, "4"); // no device
    tree.SysTty("ttyS3", true, "");   // no type attribute: ask the driver
    tree.SysTty("ttyS4", true, "");
    tree.ById("usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "../../ttyUSB2");
    tree.ById("usb-u-blox_AG_GNSS_receiver-if00", tree.Dev() / "ttyACM0");

    std::set<std::string> asked;
    auto probe = [&](const std::string& device) {
        asked.insert(fs::path(device).filename().string());
        return device.ends_with("ttyS3") ? UartType::Known : UartType::Unknown;
    };
    std::vector<SerialPortEntry> ports = ListSerialPorts(tree.Roots(), probe);

    std::string dev = tree.Dev().string() + "/";
    std::vector<std::string> labels;
    for (const SerialPortEntry& port : ports)
        labels.push_back(port.Label());
    std::vector<std::string> expected{
        dev + "rfcomm0",
        dev + "ttyACM0 (usb-u-blox_AG_GNSS_receiver-if00)",
        dev + "ttyAMA0",
        dev + "ttyS0",
        dev + "ttyS3",
        dev + "ttyUSB0",
        dev + "ttyUSB2 (usb-FTDI_FT232R_USB_UART_A10K-if00-port0)",
        dev + "ttyUSB10",
    };
    EXPECT_EQ(labels, expected);
    EXPECT_EQ(asked, (std::set<std::string>{"ttyS3", "ttyS4"}));
    EXPECT_EQ(ports[6].device, dev + "ttyUSB2");
}

TEST(PortList, MissingRoots_GivesEmptyList)
{
    FakeTree tree;
    PortListRoots roots{(tree.Dev() / "absent").string(), (tree.Sys() / "absent").string()};
    EXPECT_TRUE(ListSerialPorts(roots).empty());
}

TEST(PortList, UartWithoutSysfsEntry_IsNotListed)
{
    FakeTree tree;
    tree.Node("ttyS7");
    bool asked = false;
    auto probe = [&](const std::string&) {
        asked = true;
        return UartType::Known;
    };
    EXPECT_TRUE(ListSerialPorts(tree.Roots(), probe).empty());
    EXPECT_FALSE(asked);
}

TEST(PortList, NaturalLess_ComparesDigitRunsByValue)
{
    struct Case {
        const char* a;
        const char* b;
        bool less;
    };
    const Case cases[] = {
        {"ttyS2", "ttyS10", true},
        {"ttyS10", "ttyS2", false},
        {"ttyUSB9", "ttyUSB10", true},
        {"ttyS0", "ttyUSB0", true},
        {"ttyUSB0", "ttyUSB0", false},
        {"ttyS1", "ttyS1a", true},
        {"ttyS01", "ttyS2", true},
        {"/dev/pts/3", "/dev/ttyS0", true},
        {"ttyS100000000000000000001", "ttyS100000000000000000002", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NaturalLess(c.a, c.b), c.less) << c.a << " < " << c.b;
}

// Start asks before it uses one device for both lists, also when one list names it by its
// stable name.
TEST(PortList, SameSerialPort_SeesThroughStableNames)
{
    FakeTree tree;
    tree.Node("ttyUSB0");
    tree.Node("ttyUSB1");
    tree.ById("usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "../../ttyUSB0");
    const std::string usb0 = (tree.Dev() / "ttyUSB0").string();
    const std::string byId = (tree.Dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0").string();
    EXPECT_TRUE(SameSerialPort(usb0, usb0));
    EXPECT_TRUE(SameSerialPort(byId, usb0));
    EXPECT_FALSE(SameSerialPort(byId, (tree.Dev() / "ttyUSB1").string()));
    EXPECT_FALSE(SameSerialPort("", ""));
    EXPECT_TRUE(SameSerialPort("/dev/gone", "/dev/gone")) << "one name, even for a device not there";
}

} // namespace
} // namespace ostrim
