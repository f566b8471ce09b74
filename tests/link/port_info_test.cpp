// Port descriptions read from a sysfs tree the test builds: which device each dialog port stands for,
// what the kernel says is behind it, and devices that come and go between two looks.
#include "link/port_info.h"

#include "link/posix/device_names.h"
#include "tests/support/fake_sysfs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace pw;
using pw::test::FakeSysfs;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::string& name) {
    return PortInfoText(DescribePort(name));
}

// A machine with a mainboard UART and a phantom 8250 node, an FTDI adapter, a CDC-ACM printer whose
// product repeats its maker, a parallel port and a USB printer.
struct PortInfoTest : ::testing::Test {
    FakeSysfs sys;
    void SetUp() override {
        sys.AddUart("ttyS0", 4);
        sys.AddUart("ttyS1", 0);
        sys.AddUsb("tty", "ttyUSB0", "FTDI", "FT232R USB UART", "0403", "6001");
        sys.AddUsb("tty", "ttyACM0", "Meridox", "Meridox LTX-582", "0519", "2013");
        sys.AddParallel("lp0");
        sys.AddUsb("usbmisc", "lp0", "MERIDOX", "LTX-580 Receipt", "0519", "0001");
    }
};

TEST_F(PortInfoTest, EachDialogPortSaysWhatItStandsFor) {
    const std::string usbPrinter = (sys.root / "dev" / "usb" / "lp0").string();
    std::vector<std::string> texts;
    std::vector<std::string> names;
    for (const PortInfo& p : DescribePorts()) {
        names.push_back(p.name);
        texts.push_back(PortInfoText(p));
        // What is described is what opens.
        if (p.present && p.name != "USB") {
            EXPECT_EQ(p.device, posix::ResolveDeviceName(p.name));
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "LPT1",
                                               "LPT2", "LPT3", "LPT4", "USB"}));
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "COM1: /dev/ttyS0", // the phantom ttyS1 is no port
                         "COM2: /dev/ttyUSB0 (FTDI FT232R USB UART, USB 0403:6001)",
                         "COM3: /dev/ttyACM0 (Meridox LTX-582, USB 0519:2013)",
                         "COM4: not present",
                         "COM5: not present",
                         "COM6: not present",
                         "COM7: not present",
                         "LPT1: /dev/lp0",
                         "LPT2: /dev/lp1, not present",
                         "LPT3: /dev/lp2, not present",
                         "LPT4: /dev/lp3, not present",
                         "USB: " + usbPrinter + " (MERIDOX LTX-580 Receipt, USB 0519:0001)",
                     }));

    const PortInfo com2 = DescribePort("COM2");
    EXPECT_TRUE(com2.present);
    EXPECT_EQ(com2.device, "/dev/ttyUSB0");
    EXPECT_EQ(com2.product, "FTDI FT232R USB UART");
    EXPECT_EQ(com2.usbId, "0403:6001");
    const PortInfo com4 = DescribePort("COM4");
    EXPECT_FALSE(com4.present);
    EXPECT_TRUE(com4.device.empty());
}

TEST_F(PortInfoTest, DevicesThatComeAndGoShowAtTheNextLook) {
    sys.Unplug("tty", "ttyUSB0");
    // The ports after it move up, as the port that opens does.
    EXPECT_EQ(Text("COM2"), "COM2: /dev/ttyACM0 (Meridox LTX-582, USB 0519:2013)");
    EXPECT_EQ(Text("COM3"), "COM3: not present");
    sys.Unplug("usbmisc", "lp0");
    sys.Unplug("printer", "lp0");
    EXPECT_EQ(Text("USB"), "USB: not present");
    EXPECT_EQ(Text("LPT1"), "LPT1: /dev/lp0, not present");

    sys.AddUsb("tty", "ttyUSB1", "Prolific Technology Inc.", "USB-Serial Controller", "067b", "2303");
    EXPECT_EQ(Text("COM2"),
              "COM2: /dev/ttyUSB1 (Prolific Technology Inc. USB-Serial Controller, USB 067b:2303)");
    sys.AddUsb("usbmisc", "lp3", "", "", "0fe6", "811e"); // a printer that names nothing
    EXPECT_EQ(Text("USB"), "USB: " + (sys.root / "dev" / "usb" / "lp3").string() + " (USB 0fe6:811e)");
}

TEST_F(PortInfoTest, PortsPointedElsewhereAreDescribedThroughWhatTheyPointAt) {
    // A udev link to the adapter is described as the adapter; a phantom UART is not present; a file the
    // kernel knows nothing of (a pseudo-terminal, say) is present when it exists.
    const fs::path byId = sys.root / "dev" / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    fs::create_directories(byId.parent_path());
    fs::create_symlink(sys.DevFile("ttyUSB0"), byId);
    ::setenv("PINWRIGHT_COM5", byId.c_str(), 1);
    ::setenv("PINWRIGHT_COM6", sys.DevFile("ttyS1").c_str(), 1);
    ::setenv("PINWRIGHT_COM7", sys.DevFile("pts/4").c_str(), 1);
    ::setenv("PINWRIGHT_LPT2", (sys.root / "nowhere").c_str(), 1);
    const std::string com5 = Text("COM5"), com6 = Text("COM6"), com7 = Text("COM7"), lpt2 = Text("LPT2");
    for (const char* v : {"PINWRIGHT_COM5", "PINWRIGHT_COM6", "PINWRIGHT_COM7", "PINWRIGHT_LPT2"})
        ::unsetenv(v);
    EXPECT_EQ(com5, "COM5: " + byId.string() + " (FTDI FT232R USB UART, USB 0403:6001)");
    EXPECT_EQ(com6, "COM6: " + (sys.root / "dev" / "ttyS1").string() + ", not present");
    EXPECT_EQ(com7, "COM7: " + (sys.root / "dev" / "pts" / "4").string());
    EXPECT_EQ(lpt2, "LPT2: " + (sys.root / "nowhere").string() + ", not present");
}

TEST(PortInfo, TextsFromTheDeviceLoseTheirControlCharacters) {
    FakeSysfs sys;
    sys.AddUsb("tty", "ttyACM0", "Evil\x1b[2J\tCorp", " Printer\r ", "1234", "abcd");
    const PortInfo p = DescribePort("COM1");
    EXPECT_EQ(p.product, "Evil [2J Corp Printer");
    EXPECT_EQ(p.product.find_first_of("\x1b\t\r"), std::string::npos);
}

} // namespace
