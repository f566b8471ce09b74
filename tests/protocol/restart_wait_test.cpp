// Waiting for the printer's restart after user setting mode, on the virtual clock: DLE EOT 1 at a growing
// interval until a status byte comes, within its bound.
#include "protocol/restart_wait.h"

#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::test;

namespace {

// A printer on COM1 that takes `restartMs` to come back, answering DLE EOT 1 `thinkMs` after it was asked
// once it is back; what it was asked, and when.
struct RestartingPrinter {
    FakeDeviceServices os;
    FakeDevice& com = os.AddDevice("COM1");
    CPrinterPort port{os};
    std::uint32_t restartMs = 0, thinkMs = 2;
    Bytes answer = {0x12};
    std::vector<std::uint32_t> askedAt; // from the start of the wait
    std::uint32_t start = 0;

    explicit RestartingPrinter(std::uint32_t restart) : restartMs(restart) {
        port.m_nBaudRate = 115200;
        port.m_nByteSize = 8;
        EXPECT_EQ(port.Open(), 1);
        start = os.Now();
        com.onBytes = [this](FakeDevice& d, const Bytes& bytes) {
            if (bytes != Bytes{0x10, 0x04, 0x01}) return;
            askedAt.push_back(os.Now() - start);
            // The clock may wrap: times are compared as time since the start.
            if (os.Now() - start >= restartMs)
                d.ReplyAt(os.Now() + thinkMs, answer); // lost while it restarts
        };
    }
};

TEST(RestartWait, APrinterIsAskedAtAGrowingIntervalAndTakenAtItsFirstAnswer) {
    RestartingPrinter p(4000);
    ASSERT_TRUE(WaitForRestart(p.port));
    // The first after 20 ms, 20 ms between the first queries, a quarter more each time, then 1 s each.
    EXPECT_EQ(p.askedAt, (std::vector<std::uint32_t>{20, 40, 65, 96, 134, 181, 239, 311, 401, 513, 653, 828,
                                                     1046, 1318, 1658, 2083, 2614, 3277, 4105}));
    EXPECT_EQ(p.os.Now() - p.start, 4105u + 2 + kRestartFirstPollMs)
        << "taken as soon as the answer came, and the line quiet after it";
}

TEST(RestartWait, APrinterThatNeverComesBackIsGivenUpAtTheBound) {
    RestartingPrinter p(60000);
    EXPECT_FALSE(WaitForRestart(p.port));
    EXPECT_EQ(p.os.Now() - p.start, kRestartLimitMs);
    EXPECT_EQ(p.askedAt.size(), 29u) << "19 ever longer waits, then one a second";
    EXPECT_EQ(p.askedAt.back(), 14105u);
}

TEST(RestartWait, WhatIsNotAStatusByteIsPassedOverAndAStopEndsTheWait) {
    RestartingPrinter noise(500);
    noise.answer = {0x00, 0x80, 0x12}; // a printer that sends bytes as it starts, then the answer
    EXPECT_TRUE(WaitForRestart(noise.port));

    RestartingPrinter slow(1000);
    slow.thinkMs = 700; // slower than the first intervals: its answer comes while a later query waits
    EXPECT_TRUE(WaitForRestart(slow.port));
    EXPECT_LE(slow.os.Now() - slow.start, 1000u + 300 + 700 + kRestartFirstPollMs);

    RestartingPrinter stopped(60000);
    int asked = 0;
    EXPECT_FALSE(WaitForRestart(stopped.port, kRestartLimitMs, [&] { return ++asked > 3; }));
    EXPECT_EQ(stopped.askedAt.size(), 3u);
}

} // namespace
