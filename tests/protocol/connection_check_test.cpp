// The handshake against scripted devices on the virtual clock.
#include "protocol/connection_check.h"

#include "framework/message_box.h"
#include "link/usb_discovery.h"
#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kModelId = {0x1D, 0x49, 0x01};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Handshake : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice& dev = os.AddDevice("COM1");
    ScriptedPrinter printer{os, dev};
    CPrinterPort port{os};
    void SetUp() override {
        port.m_nBaudRate = 9600;
        ASSERT_EQ(port.Open(), 1);
    }
};

TEST_F(Handshake, SendsTheFourCommandsInOrder) {
    printer.Always(kModelId, {'.'});
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::Connected);
    EXPECT_EQ(printer.commands,
              (std::vector<Bytes>{{0x1B, 0x40}, {0x1B, 0x3D, 0x01}, {0x1D, 0x61, 0x00}, kModelId}));
}

TEST_F(Handshake, DotOnTheTenthRetryPasses) {
    // The first read and nine retries each take one byte that is not ".".
    printer.Always(kModelId, Bytes(10, 'x') + Bytes{'.'});
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::Connected);
    EXPECT_EQ(os.Now() - t0, 10u + 10u * 100u);
}

TEST_F(Handshake, NoDotAfterTenRetriesFails) {
    printer.Always(kModelId, Bytes(11, 'x') + Bytes{'.'});
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::NoAnswer);
}

TEST_F(Handshake, SilentPrinterFailsAfterElevenBoundedReads) {
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::NoAnswer);
    EXPECT_EQ(os.Now() - t0, 10u + 5000u + 10u * (100u + 5000u));
}

TEST_F(Handshake, OtherBytesCountAsNoAnswerYet) {
    printer.Always(kModelId, {'x', 'y', '.'});
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::Connected);
}

TEST_F(Handshake, AQueryThatDoesNotGoOutIsAPortErrorWithoutWaitingForReplies) {
    dev.acceptScript = [](int, std::uint32_t n) { return WriteOutcome::All(n == 3 ? 0 : n); };
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::PortError);
    EXPECT_LE(os.Now() - t0, 10000u + 50u) << "one write's limit, no read";
}

TEST_F(Handshake, InitThatWritesNothingIsAPortErrorAndSendsNothingMore) {
    dev.acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(0); };
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::PortError);
    EXPECT_TRUE(dev.received.empty());
}

class UsbHandshake : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice* dev = nullptr;
    std::unique_ptr<ScriptedPrinter> printer;
    CPrinterPort port{os};
    std::FILE* sink = std::tmpfile();
    void SetUp() override {
        SetDiscoveryOutput(sink);
        dev = &AddUsbPrinter(os);
        printer = std::make_unique<ScriptedPrinter>(os, *dev);
        port.m_strPort = "USB";
        ASSERT_EQ(port.Open(), 1);
    }
    void TearDown() override {
        SetDiscoveryOutput(nullptr);
        std::fclose(sink);
    }
};

TEST_F(UsbHandshake, ReaderThreadTakesTheReply) {
    printer->Always(kModelId, {'.'}, 50);
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::Connected);
    EXPECT_EQ(os.threadsStarted, 1);
    EXPECT_EQ(os.threadsStopped, 0);
    EXPECT_EQ(os.Now() - t0, 200u) << "100 ms, the reader seen started, 100 ms";
}

TEST_F(UsbHandshake, TenSilentAttemptsGiveReadErrorAfterTenQueries) {
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::ReadError);
    EXPECT_EQ(printer->Count(kModelId), 10);
    EXPECT_EQ(os.threadsStarted, 10);
    EXPECT_EQ(os.threadsStopped, 10);
}

TEST_F(UsbHandshake, AReaderThatCannotStartIsAReadErrorAtOnce) {
    printer->Always(kModelId, {'.'}, 50);
    os.noThreads = true;
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::ReadError);
    EXPECT_EQ(os.Now() - t0, 0u) << "no waiting for a reader that never runs";
    EXPECT_EQ(printer->Count(kModelId), 1) << "no query again";
}

TEST_F(UsbHandshake, AnAbandonedReaderNeverTouchesTheNextAttempt) {
    // The reply to the first query comes only after its attempt was abandoned; the second attempt
    // must see the reply to its own query, and the abandoned read must not have consumed it.
    printer->On(kModelId, [](int nth) -> std::optional<Answer> {
        if (nth == 1) return Answer{{'.'}, 10};
        return std::nullopt;
    });
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::Connected);
    EXPECT_EQ(os.threadsStarted, 2);
    EXPECT_EQ(os.threadsStopped, 1);
}

TEST_F(UsbHandshake, AReplyTakenJustBeforeTheStopIsKept) {
    // The "." comes in after the attempt looked at the count and before it stopped the reader, which takes
    // it: it is the printer's answer and must not be lost.
    os.beforeStopThread = [&] {
        os.ReplyNow(*dev, {'.'});
        os.Sleep(0); // the reader takes it
    };
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::Connected);
    EXPECT_EQ(os.threadsStarted, 1);
}

TEST_F(UsbHandshake, NonDotBytesHandOverToTheDirectRetries) {
    printer->On(kModelId, [](int nth) -> std::optional<Answer> {
        if (nth == 0) return Answer{{'?'}, 10};
        return std::nullopt;
    });
    dev->ReplyAt(os.Now() + 700, {'.'});
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::Connected);
    EXPECT_EQ(os.threadsStarted, 1);
    EXPECT_EQ(printer->Count(kModelId), 1) << "the direct retries only read";
}

TEST_F(UsbHandshake, DirectRetriesAreBoundedByTheReadLimit) {
    printer->On(kModelId, [](int nth) -> std::optional<Answer> {
        if (nth == 0) return Answer{{'?'}, 10};
        return std::nullopt;
    });
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(RunConnectionHandshake(port, kUsb), HandshakeResult::NoAnswer);
    EXPECT_LE(os.Now() - t0, 200u + 10u * (100u + 5000u));
}

// Each handshake keeps its reader's reply, count and flag to itself: a port whose printer never answers
// must not see the reply that another port's reader just took, nor lose its own to the other's reset.
TEST(UsbHandshakes, TwoPortsAtOnceKeepTheirReaderStateApart) {
    std::FILE* sink = std::tmpfile();
    SetDiscoveryOutput(sink);
    struct Side {
        FakeDeviceServices os;
        FakeDevice& dev = AddUsbPrinter(os);
        ScriptedPrinter printer{os, dev};
        CPrinterPort port{os};
        HandshakeResult result = HandshakeResult::PortError;
        Side() {
            port.m_strPort = "USB";
            EXPECT_EQ(port.Open(), 1);
        }
    };
    for (int round = 0; round < 20; ++round) {
        Side silent, answering;
        answering.printer.Always(kModelId, {'.'}, 10);
        std::thread a([&] { silent.result = RunConnectionHandshake(silent.port, kUsb); });
        std::thread b([&] {
            for (int i = 0; i < 5; ++i) answering.result = RunConnectionHandshake(answering.port, kUsb);
        });
        a.join();
        b.join();
        ASSERT_EQ(silent.result, HandshakeResult::ReadError) << "round " << round;
        ASSERT_EQ(silent.os.threadsStarted, 10);
        ASSERT_EQ(answering.result, HandshakeResult::Connected) << "round " << round;
        ASSERT_EQ(answering.os.threadsStarted, 5) << "one reader a handshake, round " << round;
    }
    SetDiscoveryOutput(nullptr);
    std::fclose(sink);
}

} // namespace
