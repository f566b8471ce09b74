// One pinwright-sim process serving many printers, on pseudo-terminals or on loopback addresses of their
// own: each printer has its own switches, state, line and faults. Bytes are written out from ESC/POS here.
#include "tests/support/sim_process.h"
#include "tests/support/sim_wire.h"

#include <gtest/gtest.h>

#include <thread>

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using pw::test::SimProcess;
using pw::test::SimWire;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes kModelId = {0x1D, 0x49, 0x01};
const Bytes kSetupIn = {0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'};
const Bytes kSetupOut = {0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 'O', 'U', 'T'};

Bytes Query(int sw) {
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, static_cast<std::uint8_t>(sw)};
}
Bytes SwitchReply(const std::string& pins) {
    Bytes b = {0x37, 0x21};
    b.insert(b.end(), pins.begin(), pins.end());
    b.push_back(0x00);
    return b;
}
// User setting mode, one change, the mode ended: the new pins apply.
void WriteSwitch(SimWire& wire, int sw, const std::string& pins) {
    ASSERT_EQ(wire.Ask(kSetupIn, 3), (Bytes{0x37, 0x20, 0x00}));
    Bytes change = {0x1D, 0x28, 0x45, 0x0A, 0x00, 0x03, static_cast<std::uint8_t>(sw)};
    change.insert(change.end(), pins.begin(), pins.end());
    wire.Send(change);
    wire.Send(kSetupOut);
}

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

bool HasIpv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

TEST(SimFleet, ThreePseudoTerminalsAreThreePrinters) {
    TempDir dir("pw-sim-fleet");
    const std::string state = (dir.path / "state").string(), link = (dir.path / "tty").string();
    const std::string usb = (dir.path / "usb").string();
    SimProcess sim(
        {"--count", "3", "--switch", "2=00010100", "--state", state, "--link", link, "--usb-dir", usb});
    const auto& names = sim.Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(sim.PtyPath(), names[0]);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::filesystem::read_symlink(link + "." + std::to_string(i + 1)).string(), names[i]);
        EXPECT_EQ(std::filesystem::read_symlink(usb + "/lp" + std::to_string(i)).string(), names[i]);
        for (int j = 0; j < i; ++j) EXPECT_NE(names[i], names[j]);
    }
    SimWire first(link + ".1"), second(link + ".2"), third(link + ".3");
    // All three lines open at once; a write on the second printer is on it alone.
    WriteSwitch(second, 2, "11010100");
    EXPECT_EQ(second.Ask(Query(2), 11), SwitchReply("11010100"));
    EXPECT_EQ(first.Ask(Query(2), 11), SwitchReply("00010100"));
    EXPECT_EQ(third.Ask(Query(2), 11), SwitchReply("00010100"));
    // The second one stays in user setting mode while the others print and answer.
    ASSERT_EQ(second.Ask(kSetupIn, 3), (Bytes{0x37, 0x20, 0x00}));
    second.Send(kModelId);
    EXPECT_EQ(second.Receive(1, 300), Bytes{}) << "no model ID in user setting mode";
    EXPECT_EQ(first.Ask(kModelId, 1), Bytes{'.'});
    EXPECT_EQ(third.Ask(kModelId, 1), Bytes{'.'});
    second.Send(kSetupOut);
    EXPECT_EQ(second.Ask(kModelId, 1), Bytes{'.'});

    EXPECT_NE(Slurp(state + ".2").find("switch 2 = 11010100"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(state + ".1")) << "saved only when its own setting mode ended";
    EXPECT_FALSE(std::filesystem::exists(state + ".3"));
    EXPECT_FALSE(std::filesystem::exists(state));
}

TEST(SimFleet, EachPrinterKeepsItsStateFileAcrossARestart) {
    TempDir dir("pw-sim-fleet-state");
    const std::string state = (dir.path / "state").string();
    {
        std::ofstream(state + ".1") << "switch 9 = 01000000\n";
        std::ofstream(state + ".2") << "switch 9 = 00100000\n";
    }
    SimProcess sim({"--count", "2", "--state", state});
    SimWire first(sim.Names()[0]), second(sim.Names()[1]);
    EXPECT_EQ(first.Ask(Query(9), 11), SwitchReply("01000000"));
    EXPECT_EQ(second.Ask(Query(9), 11), SwitchReply("00100000"));
}

TEST(SimFleet, ThreeListenersOnLoopbackAddressesOfTheirOwnAreThreePrinters) {
    const bool v6 = HasIpv6Loopback();
    SimProcess sim({"--listen", "127.0.0.21:0", "--listen", "127.0.0.22:0", "--listen",
                    v6 ? "[::1]:0" : "127.0.0.23:0", "--switch", "2=00010100"});
    const auto& names = sim.Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].rfind("tcp://127.0.0.21:", 0), 0u) << names[0];
    EXPECT_EQ(names[1].rfind("tcp://127.0.0.22:", 0), 0u) << names[1];
    EXPECT_EQ(names[2].rfind(v6 ? "tcp://[::1]:" : "tcp://127.0.0.23:", 0), 0u) << names[2];
    EXPECT_EQ(sim.NetworkName(), names[0]);
    if (!v6) std::cerr << "no IPv6 loopback here: the third printer is on 127.0.0.23\n";

    SimWire first(names[0]), second(names[1]), third(names[2]);
    WriteSwitch(second, 2, "11010100");
    EXPECT_EQ(second.Ask(Query(2), 11), SwitchReply("11010100"));
    EXPECT_EQ(first.Ask(Query(2), 11), SwitchReply("00010100"));
    EXPECT_EQ(third.Ask(Query(2), 11), SwitchReply("00010100"));
    // Each serves its own client: one being served does not hold up the others.
    EXPECT_EQ(third.Ask(kModelId, 1), Bytes{'.'});
    // The port of 127.0.0.21 is that address's alone.
    const std::string port = names[0].substr(names[0].rfind(':') + 1);
    EXPECT_THROW(SimWire("tcp://127.0.0.1:" + port), std::runtime_error);
}

TEST(SimFleet, EachPrinterHearsTheLineRateOfItsOwnSwitch9) {
    // Both start at 115200 (switch 9 = 10000000); the second is moved to 9600.
    TempDir dir("pw-sim-fleet-rate");
    const std::string state = (dir.path / "state").string();
    SimProcess sim({"--count", "2", "--enforce-line", "--state", state});
    SimWire first(sim.Names()[0]), second(sim.Names()[1]);
    first.SetRate(115200);
    second.SetRate(115200);
    WriteSwitch(second, 9, "00000000");
    // The state file is saved once the new switch 9 applies.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(state + ".2") && Clock::now() < until) ::usleep(10000);
    ASSERT_TRUE(std::filesystem::exists(state + ".2")) << "the second printer's mode did not end in 5 s";
    second.Send(kModelId);
    EXPECT_EQ(second.Receive(1, 300), Bytes{}) << "the second printer now listens at 9600";
    EXPECT_EQ(first.Ask(kModelId, 1), Bytes{'.'}) << "the first one still at 115200";
    second.SetRate(9600);
    first.SetRate(9600);
    second.Send({0x1B, 0x40});
    EXPECT_EQ(second.Ask(kModelId, 1), Bytes{'.'});
    first.Send(kModelId);
    EXPECT_EQ(first.Receive(1, 300), Bytes{}) << "the first one does not understand 9600";
}

TEST(SimFleet, EachPrinterKeepsThePace) {
    SimProcess sim({"--count", "2", "--pace", "9600"});
    SimWire first(sim.Names()[0]), second(sim.Names()[1]);
    const auto t = Clock::now();
    first.Send(Query(2));
    second.Send(Query(2));
    EXPECT_EQ(first.Receive(11, 2000), SwitchReply("00010100"));
    EXPECT_EQ(second.Receive(11, 2000), SwitchReply("00010100"));
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count();
    // Each printer takes 7 bytes in and sends 11 out at 1041 us a byte.
    EXPECT_GE(us, 18 * 1041);
}

// A printer that thinks before each reply, and restarts after user setting mode: what comes while it
// restarts is lost, and then it answers again.
TEST(SimFleet, ThinkTimeAndRestartTimeArePaceOfTheirOwn) {
    SimProcess sim({"--think", "300", "--restart", "800"});
    SimWire wire(sim.PtyPath());
    auto t = Clock::now();
    EXPECT_EQ(wire.Ask({0x10, 0x04, 0x01}, 1), Bytes{0x12});
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(wire.Ask({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 'I', 'N'}, 3), (Bytes{0x37, 0x20, 0x00}));
    // The end of the mode and a query with it: the query is lost with the restart.
    wire.Send({0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 'O', 'U', 'T', 0x10, 0x04, 0x01});
    t = Clock::now();
    EXPECT_EQ(wire.Receive(1, 500), Bytes{});
    wire.Send({0x10, 0x04, 0x01});
    EXPECT_EQ(wire.Receive(1, 200), Bytes{}) << "restarting: the query is lost";
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // past the restart's 800 ms
    EXPECT_EQ(wire.Ask({0x10, 0x04, 0x01}, 1), Bytes{0x12}) << "back";
}

// 256 printers in one process, every one asked at once; each answers on its own line with its own faults.
void AskAll(SimProcess& sim) {
    const auto& all = sim.Names();
    ASSERT_EQ(all.size(), 256u);
    std::string control;
    for (std::size_t i = 0; i < all.size(); i += 3) control += std::to_string(i + 1) + ": paper-out\n";
    ASSERT_EQ(sim.Control(control), "");
    std::vector<std::unique_ptr<SimWire>> wires;
    for (const auto& name : all) wires.push_back(std::make_unique<SimWire>(name));
    const auto t = Clock::now();
    for (auto& w : wires) w->Send({0x10, 0x04, 0x04, 0x1D, 0x49, 0x01});
    // A printer out of paper is offline: it answers the real-time query, and holds GS I.
    for (std::size_t i = 0; i < wires.size(); ++i) {
        const Bytes expected = i % 3 == 0 ? Bytes{0x7E} : Bytes{0x12, '.'};
        EXPECT_EQ(wires[i]->Receive(expected.size(), 20000), expected)
            << "printer " << i + 1 << " " << all[i];
    }
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - t).count(), 20);
}

TEST(SimFleet, TwoHundredFiftySixPseudoTerminalsAnswerAtOnce) {
    TempDir dir("pw-sim-256");
    SimProcess sim({"--count", "256", "--control", (dir.path / "control").string()});
    AskAll(sim);
}

TEST(SimFleet, TwoHundredFiftySixListenersAnswerAtOnce) {
    TempDir dir("pw-sim-256-net");
    std::vector<std::string> args = {"--control", (dir.path / "control").string()}, expected;
    // 127.0.77.1 to 127.0.77.255, then 127.0.78.1.
    for (int i = 1; i <= 256; ++i) {
        const std::string host = i < 256 ? "127.0.77." + std::to_string(i) : "127.0.78.1";
        args.insert(args.end(), {"--listen", host + ":0"});
        expected.push_back("tcp://" + host + ":");
    }
    SimProcess sim(args);
    ASSERT_EQ(sim.Names().size(), 256u);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(sim.Names()[i].rfind(expected[i], 0), 0u) << sim.Names()[i];
    AskAll(sim);
}

} // namespace
