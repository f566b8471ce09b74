// The tool's port (Linux backend) against a running pinwright-sim over its pseudo-terminal.
#include "link/posix/posix_device_services.h"
#include "link/printer_port.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace pw;
using pw::test::SimProcess;

namespace {

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Link {
    posix::PosixDeviceServices os;
    CPrinterPort port{os};
    explicit Link(const std::string& path) {
        port.m_strPort = "COM1";
        ::setenv("PINWRIGHT_COM1", path.c_str(), 1);
        port.m_nBaudRate = 115200;
        port.m_nByteSize = 8;
    }
    ~Link() {
        port.Close();
        ::unsetenv("PINWRIGHT_COM1");
    }
    std::string Ask(const std::vector<std::uint8_t>& cmd, int replyLength) {
        port.Write(cmd.data(), static_cast<std::uint32_t>(cmd.size()));
        std::string reply(static_cast<std::size_t>(replyLength), '\0');
        reply.resize(static_cast<std::size_t>(port.Read(reply.data(), replyLength)));
        return reply;
    }
};

TEST(SimEndToEnd, QuerySwitchTwoOverThePseudoTerminal) {
    SimProcess sim({"--switch", "2=01000100"});
    Link link(sim.PtyPath());
    ASSERT_EQ(link.port.Open(), 1);
    EXPECT_EQ(link.Ask({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x02}, 11), std::string("7!01000100\0", 11));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimEndToEnd, StateSurvivesARestart) {
    auto dir = std::filesystem::temp_directory_path() / ("pw-sim-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string state = (dir / "printer.state").string();
    {
        SimProcess sim({"--state", state, "--link", (dir / "tty").string()});
        Link link((dir / "tty").string());
        ASSERT_EQ(link.port.Open(), 1);
        EXPECT_EQ(link.Ask({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'}, 3), std::string("7 \0", 3));
        std::vector<std::uint8_t> change = {0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, 0x09};
        for (char c : std::string("01100002")) change.push_back(static_cast<std::uint8_t>(c));
        link.port.Write(change.data(), 15);
        std::vector<std::uint8_t> out = {0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 'O', 'U', 'T'};
        link.port.Write(out.data(), 9);
        // The state file is written when the mode ends; a query after it proves the sim got that far.
        EXPECT_EQ(link.Ask({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x09}, 11), std::string("7!01100000\0", 11));
    }
    EXPECT_NE(Slurp(state).find("switch 9 = 01100000"), std::string::npos);
    {
        SimProcess sim({"--state", state});
        Link link(sim.PtyPath());
        ASSERT_EQ(link.port.Open(), 1);
        EXPECT_EQ(link.Ask({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x09}, 11), std::string("7!01100000\0", 11));
    }
    std::filesystem::remove_all(dir);
}

TEST(SimEndToEnd, TraceLogsBothDirectionsInHex) {
    SimProcess sim({"--trace"}, true);
    {
        Link link(sim.PtyPath());
        ASSERT_EQ(link.port.Open(), 1);
        EXPECT_EQ(link.Ask({0x1D, 0x49, 0x01}, 1), ".");
    }
    sim.Stop();
    const std::string log = sim.Stderr();
    EXPECT_NE(log.find("<- 1D 49 01"), std::string::npos) << log;
    EXPECT_NE(log.find("-> 2E"), std::string::npos) << log;
}

TEST(SimEndToEnd, HangupDropsTheLine) {
    SimProcess sim({"--fault", "hangup-after=1"});
    Link link(sim.PtyPath());
    ASSERT_EQ(link.port.Open(), 1);
    EXPECT_EQ(link.Ask({0x1D, 0x49, 0x01}, 1), ".");
    EXPECT_EQ(link.Ask({0x1D, 0x49, 0x01}, 1), "");
}

TEST(SimEndToEnd, PaceSendsAndTakesBytesAtTheLineRate) {
    SimProcess sim({"--pace", "9600"});
    Link link(sim.PtyPath());
    ASSERT_EQ(link.port.Open(), 1);
    const auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Ask({0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x02}, 11), std::string("7!00010100\0", 11));
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t).count();
    // 7 bytes in and 11 out at 1041 us a byte.
    EXPECT_GE(us, 18 * 1041);
    EXPECT_LT(us, 500000);
}

TEST(SimEndToEnd, UsbDirGetsALinkForDiscovery) {
    auto dir = std::filesystem::temp_directory_path() / ("pw-usb-" + std::to_string(::getpid()));
    SimProcess sim({"--usb-dir", dir.string()});
    EXPECT_EQ(std::filesystem::read_symlink(dir / "lp0").string(), sim.PtyPath());
    std::filesystem::remove_all(dir);
}

} // namespace
