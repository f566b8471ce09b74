// Device files on Windows: names in the device namespace, "\\.\COMn" for the ports above 9; Windows names
// are case-blind and "\\.\COM1" is COM1.
#include "cli/options.h"
#include "cli/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace pw::cli;

namespace {

TEST(CliDeviceFiles, DeviceNamespaceNamesAreDeviceFilesOfTheirKind) {
    Options o;
    ASSERT_EQ(ParseArguments({"-p", "\\\\.\\COM12", "-p", "com1", "-p", "\\\\.\\lpt2", "check"}, o).exit, -1);
    EXPECT_EQ(o.ports, (std::vector<std::string>{"\\\\.\\COM12", "COM1", "\\\\.\\lpt2"}));
    EXPECT_EQ(DeviceFileKind("\\\\.\\COM12"), 0);
    EXPECT_EQ(DeviceFileKind("\\\\.\\com3"), 0);
    EXPECT_EQ(DeviceFileKind("\\\\.\\LPT2"), 1);
    EXPECT_EQ(
        DeviceFileKind("\\\\?\\usb#vid_0519&pid_0001#5&1a2b3c&0&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"), 2)
        << "a USB printer interface, as the discovery finds it";
    EXPECT_EQ(DeviceFileKind("\\\\?\\C:\\data\\shop.sts"), 0)
        << "no port: opened as serial, which the device services refuse by its name";
    EXPECT_EQ(DeviceFileKind("\\\\?\\usb#vid_0519#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\..\\x.sts"), 0);
    EXPECT_TRUE(IsDevicePath("\\\\?\\C:\\data\\shop.sts"))
        << "meant as a device: fails at the open, status 2";
    EXPECT_EQ(PortIdentity("\\\\.\\com12"), "COM12");
    EXPECT_EQ(PortIdentity("lpt2"), "LPT2");

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> refused = {
        {{"-p", "COM1", "-p", "\\\\.\\com1", "check"}, "port \\\\.\\com1 given twice (as COM1)"},
        {{"-p", "\\\\.\\COM12", "-p", "\\\\.\\com12", "check"}, "given twice"},
        {{"-p", "COM12", "check"}, "unknown port 'COM12'"},
        {{"-p", "/dev/ttyUSB0", "check"}, "unknown port '/dev/ttyUSB0'"},
    };
    for (const Case& c : refused) {
        Options r;
        const ParseOutcome out = ParseArguments(c.args, r);
        EXPECT_EQ(out.exit, 1) << c.message;
        EXPECT_NE(out.err.find(c.message), std::string::npos) << out.err;
    }

    Options help;
    EXPECT_NE(ParseArguments({"--help"}, help).out.find("\\\\.\\COMn for ports above 9"), std::string::npos);
}

// Output that cannot be written stops the run as SIGPIPE does on Linux: every port is stopped (its printer
// taken out of user setting mode) and the run ends with 141.
TEST(CliOutputGone, OutputThatCannotBeWrittenIsAStopRequestWithExit141) {
    const std::string path = (std::filesystem::temp_directory_path() / "pw-cli-output-gone.txt").string();
    std::FILE* readOnly = std::fopen(path.c_str(), "w");
    ASSERT_NE(readOnly, nullptr);
    std::fclose(readOnly);
    readOnly = std::fopen(path.c_str(), "r"); // takes no output
    ASSERT_NE(readOnly, nullptr);
    StopRequests requests;
    EXPECT_EQ(requests.Wait(0), 0) << "no request yet";
    EXPECT_FALSE(WriteOutput(readOnly, "port: COM1\n"));
    EXPECT_EQ(requests.Wait(1000), 141) << "the failed write asks for the stop";
    EXPECT_EQ(requests.Wait(0), 0) << "each request is taken once";
    EXPECT_EQ(OutputGoneExit(), 141);
    std::fclose(readOnly);
    std::filesystem::remove(path);
}

} // namespace
