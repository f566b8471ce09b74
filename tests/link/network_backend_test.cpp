// The platform's own network link (BSD sockets on Linux, Winsock under wine) against a listener in the
// test, over loopback: what goes out, what comes back, and how a refused, silent or closed connection ends.
#include "link/printer_port.h"
#include "protocol/connection_check.h"
#include "tests/support/test_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace pw;
using pw::test::TestListener;

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

using Connected = pw::test::ConnectedPort;

TEST(NetworkBackend, CommandsGoOutWholeAndAReplyIsReadAsSoonAsItCame) {
    Connected c;
    EXPECT_EQ(c.port.m_nKind, kNetwork);
    const std::uint8_t query[] = {0x1D, 0x28, 0x45, 0x02, 0x00, 0x04, 0x02};
    EXPECT_EQ(c.port.Write(query, sizeof query), sizeof query);
    EXPECT_EQ(c.printer.Receive(sizeof query), std::vector<std::uint8_t>(query, query + sizeof query));

    c.printer.Send({'7', '!', '0', '1', '0', '0', '0', '1', '0', '0', 0});
    std::uint8_t reply[20] = {};
    const auto asked = Clock::now();
    EXPECT_EQ(c.port.Read(reply, 20), 11) << "a read takes what came, without waiting for all 20";
    EXPECT_LT(MsSince(asked), 2500) << "a read that waited for more would take its 5 s";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 11), std::string("7!01000100\0", 11));
}

TEST(NetworkBackend, APrinterThatSaysNothingEndsTheReadAfterFiveSeconds) {
    Connected c;
    std::uint8_t reply[20];
    const auto asked = Clock::now();
    EXPECT_EQ(c.port.Read(reply, 20), 0);
    EXPECT_GE(MsSince(asked), 4900);
    EXPECT_LT(MsSince(asked), 7000);
}

TEST(NetworkBackend, AConnectionThePrinterClosedEndsReadsAndWritesAtOnce) {
    Connected c;
    c.printer.Send({'.'});
    c.printer.CloseConnection();
    std::uint8_t reply[20] = {};
    const auto started = Clock::now();
    EXPECT_EQ(c.port.Read(reply, 20), 1) << "what came before the close is still read";
    EXPECT_EQ(reply[0], '.');
    EXPECT_EQ(c.port.Read(reply, 20), 0);
    EXPECT_EQ(c.port.Write("\x1B@", 2), 0u);
    EXPECT_EQ(c.port.Write("\x1B@", 2), 0u);
    EXPECT_LT(MsSince(started), 3500)
        << "a closed connection must not be waited on like a silent printer (5 s)";
}

// The connection check reads its first reply on a reader thread that is abandoned when nothing came: on a
// connection too, the abandoned read must end and the check with it.
TEST(NetworkBackend, TheConnectionCheckTakesAReplyOrGivesUpOnASilentPrinter) {
    {
        // A "." that came before the query is not the answer to it: thrown away; the one after is taken.
        Connected answering;
        answering.printer.Send({'.'});
        std::thread printer([&] {
            if (answering.printer.Receive(11).size() == 11) answering.printer.Send({'.'});
        });
        EXPECT_EQ(RunConnectionHandshake(answering.port, kNetwork), HandshakeResult::Connected);
        printer.join();
    }
    Connected silent;
    const auto started = Clock::now();
    EXPECT_EQ(RunConnectionHandshake(silent.port, kNetwork), HandshakeResult::ReadError);
    EXPECT_LT(MsSince(started), 8000);
    // Initialise (2 bytes), select (3), status back off (3), and the model ID query (3) of each of the ten
    // reader attempts; nothing more.
    EXPECT_EQ(silent.printer.Receive(100, 500).size(), 2u + 3 + 3 + 3 * 10);
}

TEST(NetworkBackend, AClosedPortIsRefusedAtOnceAndTheMessageNamesTheAddress) {
    std::string name;
    {
        TestListener gone;
        name = gone.Name();
    }
    CPrinterPort port;
    port.m_strPort = name;
    const auto started = Clock::now();
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_LT(MsSince(started), 3000);
    const std::string problem = port.Services().LastOpenProblem();
    EXPECT_NE(problem.find(name), std::string::npos) << problem;
    EXPECT_NE(problem.find("refused"), std::string::npos) << problem;
}

TEST(NetworkBackend, AMalformedAddressOpensNothingAndSaysWhy) {
    CPrinterPort port;
    port.m_strPort = "tcp://[::1";
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_nKind, kNetwork);
    EXPECT_EQ(port.Services().LastOpenProblem(), "tcp://[::1 is not a network address: missing ']' after the "
                                                 "IPv6 address.");
}

} // namespace
