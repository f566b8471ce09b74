#include "link/usb_discovery.h"

#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace pw;
using pw::test::FakeDeviceServices;

namespace {

// Runs one discovery and returns what it printed.
std::string Discover(FakeDeviceServices& os, DeviceHandle& handle) {
    std::FILE* out = std::tmpfile();
    SetDiscoveryOutput(out);
    handle = OpenUsbPrinter(os, "USB0/4");
    SetDiscoveryOutput(nullptr);
    std::rewind(out);
    std::string text;
    char buf[1024];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) text.append(buf, n);
    std::fclose(out);
    return text;
}

TEST(UsbDiscovery, NoDevicePrintsNothing) {
    FakeDeviceServices os;
    DeviceHandle h;
    EXPECT_EQ(Discover(os, h), "");
    EXPECT_EQ(h, kInvalidHandle);
}

TEST(UsbDiscovery, FirstRefusesSecondOpensGivesExactlyFourLines) {
    FakeDeviceServices os;
    os.usbInterfaces = {"/dev/usb/lp0", "/dev/usb/lp1"};
    os.AddDevice("/dev/usb/lp0").openError = kErrorAccessDenied;
    os.AddDevice("/dev/usb/lp1");
    os.AddDevice("/dev/usb/lp1\\USB0/4");
    DeviceHandle h;
    EXPECT_EQ(Discover(os, h), "Attempting to open /dev/usb/lp0\n"
                               "FAILED to open /dev/usb/lp0\n"
                               "Attempting to open /dev/usb/lp1\n"
                               "completeDeviceName = (/dev/usb/lp1\\USB0/4)\n");
    EXPECT_NE(h, kInvalidHandle);
    EXPECT_TRUE(os.DeviceNamed("/dev/usb/lp1\\USB0/4")->held);
    EXPECT_FALSE(os.DeviceNamed("/dev/usb/lp1")->held);
}

TEST(UsbDiscovery, RunTwiceGivesTheSameCompleteName) {
    FakeDeviceServices os;
    os.usbInterfaces = {"/dev/usb/lp3"};
    os.AddDevice("/dev/usb/lp3");
    os.AddDevice("/dev/usb/lp3\\USB0/4");
    DeviceHandle h;
    Discover(os, h);
    os.CloseHandle(h);
    EXPECT_EQ(Discover(os, h),
              "Attempting to open /dev/usb/lp3\ncompleteDeviceName = (/dev/usb/lp3\\USB0/4)\n");
    EXPECT_STREQ(CompleteDeviceName(), "/dev/usb/lp3\\USB0/4");
}

TEST(UsbDiscovery, ChosenInterfaceThatRefusesTheCompleteNameEndsTheWalk) {
    FakeDeviceServices os;
    os.usbInterfaces = {"/a", "/b"};
    os.AddDevice("/a");
    os.AddDevice("/b");
    os.AddDevice("/b\\USB0/4");
    DeviceHandle h;
    EXPECT_EQ(Discover(os, h), "Attempting to open /a\ncompleteDeviceName = (/a\\USB0/4)\n");
    EXPECT_EQ(h, kInvalidHandle);
}

TEST(UsbDiscovery, UnreadableAndOversizedPathsAreSkippedSilently) {
    FakeDeviceServices os;
    const std::string fits(504, 'f'), tooLong(505, 'x');
    os.usbInterfaces = {"", tooLong, fits};
    os.AddDevice(tooLong);
    os.AddDevice(fits);
    os.AddDevice(fits + "\\USB0/4");
    DeviceHandle h;
    std::string out = Discover(os, h);
    EXPECT_EQ(out, "Attempting to open " + fits + "\ncompleteDeviceName = (" + fits + "\\USB0/4)\n");
    EXPECT_NE(h, kInvalidHandle);
    EXPECT_EQ(std::strlen(CompleteDeviceName()), 511u);
}

} // namespace
