// Device files on Linux: any path names one, its kind comes from its name, and two paths to one file are
// one port.
#include "cli/options.h"
#include "cli/platform.h"

#include <gtest/gtest.h>

using namespace pw::cli;

namespace {

TEST(CliDeviceFiles, PathsAreDeviceFilesAndTwoPathsToOneFileAreOnePort) {
    Options o;
    ASSERT_EQ(ParseArguments({"-p", "/dev/ttyUSB0", "-p", "com1", "-p", "/dev/usb/lp0", "check"}, o).exit,
              -1);
    EXPECT_EQ(o.ports, (std::vector<std::string>{"/dev/ttyUSB0", "COM1", "/dev/usb/lp0"}));
    EXPECT_EQ(DeviceFileKind(o.ports[0]), 0);
    EXPECT_EQ(DeviceFileKind(o.ports[2]), 2);

    Options twice;
    const ParseOutcome r = ParseArguments({"-p", "/dev/../dev/ttyS0", "-p", "/dev/ttyS0", "check"}, twice);
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("port /dev/ttyS0 given twice (as /dev/../dev/ttyS0)"), std::string::npos) << r.err;

    Options windows;
    const ParseOutcome w = ParseArguments({"-p", "\\\\.\\COM12", "check"}, windows);
    EXPECT_EQ(w.exit, 1) << "a Windows device name is no port here";
    EXPECT_NE(w.err.find("unknown port"), std::string::npos) << w.err;
}

} // namespace
