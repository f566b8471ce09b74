// $PINWRIGHT_TRACE makes the program's own device services trace the line, as pinwright-cli --trace does.
// Its own executable: the platform's services are chosen once per process.
#include "link/printer_port.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace pw;

TEST(PlatformTrace, TheEnvironmentVariableTracesTheDialogsPort) {
    const auto path =
        std::filesystem::temp_directory_path() / ("pw-platform-trace-" + std::to_string(::getpid()));
    pw::test::Pty pty;
    ::setenv("PINWRIGHT_TRACE", path.c_str(), 1);
    ::setenv("PINWRIGHT_COM1", pty.SlavePath().c_str(), 1);
    {
        CPrinterPort port; // the program's default services
        port.m_strPort = "COM1";
        port.m_nBaudRate = 9600;
        port.m_nByteSize = 8;
        ASSERT_EQ(port.Open(), 1);
        EXPECT_EQ(port.Write("\x1B\x40", 2), 2u);
        EXPECT_EQ(pty.Receive(2), (std::vector<std::uint8_t>{0x1B, 0x40}));
        pty.Send({'.'});
        char c = 0;
        EXPECT_EQ(port.Read(&c, 1), 1);
        port.Close();
    }
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    const std::string trace = s.str();
    EXPECT_NE(trace.find(" COM1 -- open COM1\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" COM1 -- line 9600 8N1\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" COM1 -> 1B 40\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" COM1 <- 2E\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" COM1 -- close\n"), std::string::npos) << trace;
    ::unsetenv("PINWRIGHT_TRACE");
    ::unsetenv("PINWRIGHT_COM1");
    std::filesystem::remove(path);
}
