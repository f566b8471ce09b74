#include "link/posix/device_names.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace pw::posix;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("pw-names-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

void MakeTty(const fs::path& sys, const std::string& name, const char* type) {
    fs::create_directories(sys / name);
    if (type) std::ofstream(sys / name / "type") << type << "\n";
}

TEST(DeviceNames, SerialPortsSkipPhantomUartsAndKeepNumericOrder) {
    TempDir t;
    MakeTty(t.path, "ttyS0", "4");
    MakeTty(t.path, "ttyS1", "0"); // phantom 8250 node
    MakeTty(t.path, "ttyS10", "4");
    MakeTty(t.path, "ttyS2", "4");
    MakeTty(t.path, "ttyUSB1", nullptr);
    MakeTty(t.path, "ttyUSB0", nullptr);
    MakeTty(t.path, "ttyACM0", nullptr);
    MakeTty(t.path, "tty5", nullptr);
    EXPECT_EQ(SerialPortsPresent(t.path.string(), "/dev"),
              (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0",
                                        "/dev/ttyUSB1", "/dev/ttyACM0"}));
}

TEST(DeviceNames, EnvironmentPointsPortsElsewhere) {
    ::setenv("PINWRIGHT_COM3", "/tmp/printer-pty", 1);
    ::setenv("PINWRIGHT_LPT2", "/tmp/lp-file", 1);
    EXPECT_EQ(ResolveDeviceName("COM3"), "/tmp/printer-pty");
    EXPECT_EQ(ResolveDeviceName("LPT2"), "/tmp/lp-file");
    ::unsetenv("PINWRIGHT_COM3");
    ::unsetenv("PINWRIGHT_LPT2");
    EXPECT_EQ(ResolveDeviceName("LPT1"), "/dev/lp0");
    EXPECT_EQ(ResolveDeviceName("LPT4"), "/dev/lp3");
    EXPECT_EQ(ResolveDeviceName("COMfoo"), "COMfoo");
    EXPECT_EQ(ResolveDeviceName("/dev/usb/lp0\\USB0/4"), "/dev/usb/lp0");
}

TEST(DeviceNames, UsbPrintersAreListedInNumericOrder) {
    TempDir t;
    for (const char* n : {"lp10", "lp2", "lp0", "hiddev0", "lpx"}) std::ofstream(t.path / n) << "";
    ::setenv("PINWRIGHT_USB_DIR", t.path.c_str(), 1);
    auto got = UsbPrinterDevices();
    ::unsetenv("PINWRIGHT_USB_DIR");
    EXPECT_EQ(got, (std::vector<std::string>{(t.path / "lp0").string(), (t.path / "lp2").string(),
                                             (t.path / "lp10").string()}));
}

TEST(DeviceNames, DeviceFileKindFromItsNameOrWhereItLeads) {
    TempDir t;
    ::setenv("PINWRIGHT_USB_DIR", (t.path / "usb").string().c_str(), 1);
    fs::create_directories(t.path / "usb");
    std::ofstream(t.path / "target");
    fs::create_symlink(t.path / "target", t.path / "usb" / "lp0");
    fs::create_symlink("/dev/usb/lp7", t.path / "printer");
    fs::create_symlink("/dev/lp2", t.path / "parallel");
    EXPECT_EQ(DeviceFileKind("/dev/ttyUSB0"), 0);
    EXPECT_EQ(DeviceFileKind("/dev/ttyS3"), 0);
    EXPECT_EQ(DeviceFileKind("/dev/pts/4"), 0);
    EXPECT_EQ(DeviceFileKind("/dev/lp0"), 1);
    EXPECT_EQ(DeviceFileKind("/dev/lpfoo"), 0) << "lp and digits only";
    EXPECT_EQ(DeviceFileKind("/dev/usb/lp0"), 2);
    EXPECT_EQ(DeviceFileKind("/dev/usb/../usb/lp1"), 2);
    EXPECT_EQ(DeviceFileKind((t.path / "usb" / "lp0").string()), 2) << "by its own name first";
    EXPECT_EQ(DeviceFileKind((t.path / "usb/").string() + "lp0"), 2);
    EXPECT_EQ(DeviceFileKind((t.path / "printer").string()), 2) << "then by the link's target";
    EXPECT_EQ(DeviceFileKind((t.path / "parallel").string()), 1);
    EXPECT_EQ(DeviceFileKind((t.path / "target").string()), 0);
    ::unsetenv("PINWRIGHT_USB_DIR");
}

} // namespace
