// The tool's network link (Linux backend) and its printer sequences against pinwright-sim --listen over
// loopback: the same handshake, pre-check, read and write as on a cable, and the ways a connection ends.
#include "dialogs/message_icon.h"
#include "link/posix/posix_device_services.h"
#include "link/printer_port.h"
#include "protocol/connection_check.h"
#include "protocol/switch_sequences.h"
#include "tests/support/recorders.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

using namespace pw;
using pw::test::MessageRecorder;
using pw::test::SimProcess;

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

struct QuietView : SequenceView {
    void SetProgressPos(int) override {}
    void StepProgress() override {}
    void RefreshControls() override {}
    void SelectCodePage(int) override {}
    void Message(const std::string& text, MessageKind kind) override {
        AfxMessageBox(text, MessageIcon(kind));
    }
};

struct NetworkPrinter {
    posix::PosixDeviceServices os;
    CPrinterPort port{os};
    QuietView view;
    MessageRecorder messages;
    std::string firmware, model;
    PrinterIdentity identity{firmware, model};

    explicit NetworkPrinter(const std::string& name) { port.m_strPort = name; }
    ~NetworkPrinter() { port.Close(); }
    bool Open() { return port.Open() == 1; }
    int Check() { return CheckPrinter(port, kNetwork, identity, view); }
    SwitchModel Read() {
        SwitchModel m;
        EXPECT_EQ(ReadSwitches(port, kNetwork, m, view), SequenceResult::Ok);
        return m;
    }
};

TEST(SimNetwork, HandshakeReadWriteAndReadBackOverLoopback) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--switch", "2=00010100", "--switch", "9=10000000"});
    ASSERT_EQ(sim.NetworkName().rfind("tcp://127.0.0.1:", 0), 0u) << sim.NetworkName();
    NetworkPrinter p(sim.NetworkName());
    ASSERT_TRUE(p.Open()) << p.os.LastOpenProblem();
    EXPECT_EQ(RunConnectionHandshake(p.port, kNetwork), HandshakeResult::Connected);
    ASSERT_EQ(p.Check(), 1);
    EXPECT_EQ(p.firmware, "2.10 SIM");
    EXPECT_EQ(p.model, "LTX-580");
    SwitchModel m = p.Read();
    EXPECT_EQ(m.m_nCodePageSel, 2) << "PC850";
    EXPECT_EQ(m.m_nBaudSel, 4) << "115200";

    m.m_nCodePageSel = 0; // PC437
    ApplyCodePage(m);
    m.m_nCutterSel = 0;
    ApplyAutoCutter(m);
    ASSERT_EQ(WriteSwitches(p.port, m, p.view), SequenceResult::Ok);
    ASSERT_EQ(p.Check(), 1);
    const SwitchModel back = p.Read();
    EXPECT_EQ(back.m_nCodePageSel, 0);
    EXPECT_EQ(back.m_nCutterSel, 0);
    EXPECT_EQ(back.m_nBaudSel, 4);
    EXPECT_TRUE(p.messages.shown.empty());
}

TEST(SimNetwork, HostNamesAndIpv6ReachThePrinter) {
    SimProcess v4({"--listen", "127.0.0.1:0"});
    const std::string port = v4.NetworkName().substr(v4.NetworkName().rfind(':') + 1);
    // "localhost" may name ::1 first, where nothing listens: the next address is tried.
    NetworkPrinter byName("tcp://localhost:" + port);
    ASSERT_TRUE(byName.Open()) << byName.os.LastOpenProblem();
    EXPECT_EQ(RunConnectionHandshake(byName.port, kNetwork), HandshakeResult::Connected);

    std::unique_ptr<SimProcess> v6;
    try {
        v6 = std::make_unique<SimProcess>(std::vector<std::string>{"--listen", "[::1]:0"});
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ASSERT_EQ(v6->NetworkName().rfind("tcp://[::1]:", 0), 0u) << v6->NetworkName();
    NetworkPrinter byV6(v6->NetworkName());
    ASSERT_TRUE(byV6.Open()) << byV6.os.LastOpenProblem();
    EXPECT_EQ(RunConnectionHandshake(byV6.port, kNetwork), HandshakeResult::Connected);
}

TEST(SimNetwork, ASecondClientWaitsUntilTheFirstHasGone) {
    SimProcess sim({"--listen", "127.0.0.1:0"});
    NetworkPrinter first(sim.NetworkName());
    NetworkPrinter second(sim.NetworkName());
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open()) << "the second connection waits in the backlog, it is not refused";
    const std::uint8_t modelId[] = {0x1D, 0x49, 0x01};
    ASSERT_EQ(second.port.Write(modelId, 3), 3u);
    ASSERT_EQ(RunConnectionHandshake(first.port, kNetwork), HandshakeResult::Connected);
    first.port.Close();
    std::uint8_t reply[20] = {};
    ASSERT_EQ(second.port.Read(reply, 20), 1) << "the waiting client's query is answered once it is served";
    EXPECT_EQ(reply[0], '.');
}

TEST(SimNetwork, AConnectionClosedDuringTheWriteEndsItAtOnce) {
    // The printer goes after the command that enters user setting mode (the eighth of the session).
    SimProcess sim({"--listen", "127.0.0.1:0", "--fault", "hangup-after=8"});
    NetworkPrinter p(sim.NetworkName());
    ASSERT_TRUE(p.Open());
    ASSERT_EQ(p.Check(), 1);
    SwitchModel m;
    InitializeDefaults(m);
    const auto started = Clock::now();
    EXPECT_EQ(WriteSwitches(p.port, m, p.view), SequenceResult::NotWritten);
    EXPECT_LT(MsSince(started), 3000) << "no retries on a connection that is gone";

    NetworkPrinter again(sim.NetworkName());
    EXPECT_FALSE(again.Open()) << "a printer that is gone takes no new connection";
    EXPECT_NE(again.os.LastOpenProblem().find(sim.NetworkName()), std::string::npos);
}

} // namespace
