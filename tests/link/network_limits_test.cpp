// The platform's own network link (BSD sockets on Linux, Winsock under wine) against hostile printers on
// loopback: a host whose queue of connections is full, a stop during the connect, a printer that keeps
// sending, one that never reads, one that reads late, and replies left over from an earlier query.
#include "link/device_services_decorator.h"
#include "link/network_address.h"
#include "link/printer_port.h"
#include "tests/support/blocked_thread.h"
#include "tests/support/test_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace pw;
using pw::test::TestListener;

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// The platform's services, telling when an open has begun.
class OpenWatch : public DeviceServicesDecorator {
  public:
    OpenWatch() : DeviceServicesDecorator(PlatformServices()) {}
    DeviceHandle CreateFile(const std::string& name, ShareMode share) override {
        begun = true;
        return DeviceServicesDecorator::CreateFile(name, share);
    }
    ::testing::AssertionResult WaitUntilBegun() const {
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < until) {
            if (begun) return ::testing::AssertionSuccess();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return ::testing::AssertionFailure() << "the open had not begun after 10 s";
    }
    std::atomic<bool> begun{false};
};

struct Connected : pw::test::ConnectedPort {
    using ConnectedPort::ConnectedPort;
    DeviceServices& Os() { return port.Services(); }
    // Writes as much as goes out within `ms` (of at most `most` bytes), with the port's write limits set
    // to that: what is queued.
    std::uint32_t Queue(std::uint32_t ms, std::uint32_t most = 16 * 1024 * 1024) {
        TimeLimits limits = TransferTimeLimits();
        limits.writeTotalMultiplier = 0;
        limits.writeTotalConstant = ms;
        Os().SetCommTimeouts(port.m_hPort, limits);
        static const std::vector<std::uint8_t> big(16 * 1024 * 1024, 'q');
        std::uint32_t written = 0;
        PendingWrite pending;
        Os().WriteFile(port.m_hPort, big.data(), std::min(most, static_cast<std::uint32_t>(big.size())),
                       written, pending);
        return written;
    }
};

TEST(NetworkLimits, AHostThatNeitherTakesNorRefusesTheConnectionIsGivenUpAfterFiveSeconds) {
    TestListener full(0);
    ASSERT_TRUE(full.FillQueue());
    CPrinterPort port;
    port.m_strPort = full.Name();
    const auto started = Clock::now();
    EXPECT_EQ(port.Open(), 0);
    const long long took = MsSince(started);
    EXPECT_GE(took, static_cast<long long>(kConnectLimitMs) - 100);
    EXPECT_LT(took, static_cast<long long>(kConnectLimitMs) + 2500);
    EXPECT_EQ(port.Services().LastOpenProblem(), ConnectProblem(full.Name(), ConnectFailure::TimedOut));
}

// discover's limit: a host that neither takes nor refuses costs that long, and the message says so.
TEST(NetworkLimits, AConnectLimitOfItsOwnGivesUpSoonerAndTheMessageNamesIt) {
    TestListener full(0);
    ASSERT_TRUE(full.FillQueue());
    CPrinterPort port;
    port.m_strPort = full.Name();
    port.m_nConnectLimitMs = 1000;
    const auto started = Clock::now();
    EXPECT_EQ(port.Open(), 0);
    const long long took = MsSince(started);
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 3500) << "the usual 5 s limit was waited";
    const std::string problem = port.Services().LastOpenProblem();
    EXPECT_EQ(problem, ConnectProblem(full.Name(), ConnectFailure::TimedOut, {}, 1000));
    EXPECT_NE(problem.find(" within 1 s:"), std::string::npos) << problem;
}

TEST(NetworkLimits, AHostNameLooksUpToItsAddressesAnAddressToItselfAndAnUnknownNameFails) {
    std::unique_ptr<DeviceServices> os = NewPlatformServices();
    std::vector<std::string> found;
    std::string problem;
    ASSERT_TRUE(os->LookUpHost("tcp://localhost:9100", 5000, found, problem)) << problem;
    EXPECT_TRUE(std::find(found.begin(), found.end(), "127.0.0.1") != found.end() ||
                std::find(found.begin(), found.end(), "::1") != found.end())
        << found.size();
    ASSERT_TRUE(os->LookUpHost("tcp://[0:0::1]:9100", 1000, found, problem)) << problem;
    EXPECT_EQ(found, (std::vector<std::string>{"::1"}));
    ASSERT_TRUE(os->LookUpHost("tcp://127.0.0.9:9100", 1000, found, problem)) << problem;
    EXPECT_EQ(found, (std::vector<std::string>{"127.0.0.9"}));
    // Not found, or not found within the limit where no name server answers: either way named.
    const auto started = Clock::now();
    EXPECT_FALSE(os->LookUpHost("tcp://no-such-printer.invalid:9100", 2000, found, problem));
    EXPECT_LT(MsSince(started), 4500);
    EXPECT_TRUE(found.empty());
    EXPECT_NE(problem.find("the host 'no-such-printer.invalid' of tcp://no-such-printer.invalid:9100"),
              std::string::npos)
        << problem;
    EXPECT_FALSE(os->LookUpHost("tcp://bad_name!", 1000, found, problem));
    EXPECT_NE(problem.find("is not a network address"), std::string::npos) << problem;
}

// Ctrl-C reaches a port's worker as a stop: the connect ends at once, not at its limit.
TEST(NetworkLimits, AStopEndsTheConnectAtOnce) {
    TestListener full(0);
    ASSERT_TRUE(full.FillQueue());
    OpenWatch os;
    CPrinterPort port{os};
    port.m_strPort = full.Name();
    std::atomic<int> opened{-1};
#ifdef __linux__
    std::atomic<pid_t> connecting{0};
#endif
    const ThreadHandle worker = os.StartThread([&] {
#ifdef __linux__
        connecting = pw::test::ThreadId();
#endif
        opened = port.Open();
    });
    ASSERT_NE(worker, 0u);
    // The stop comes once the connect has begun; on Linux, once it waits for the printer's answer.
    EXPECT_TRUE(os.WaitUntilBegun());
#ifdef __linux__
    EXPECT_TRUE(pw::test::WaitUntilBlockedInPoll(connecting));
#endif
    const auto stopped = Clock::now();
    os.StopThread(worker);
    os.JoinThread(worker);
    EXPECT_LT(MsSince(stopped), 2500) << "the connect waited for its 5 s limit";
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(os.LastOpenProblem(), ConnectProblem(full.Name(), ConnectFailure::Stopped));
}

TEST(NetworkLimits, APrinterThatKeepsSendingCannotHoldTheCloseNorThePurge) {
    Connected c;
    const std::uint8_t init[] = {0x1B, 0x40};
    EXPECT_EQ(c.port.Write(init, sizeof init), sizeof init);
    c.printer.KeepSending();
    std::uint8_t first = 0;
    std::uint32_t got = 0;
    ASSERT_TRUE(c.Os().ReadFile(c.port.m_hPort, &first, 1, got));
    ASSERT_EQ(got, 1u) << "the flood is under way";
    // It lasts 8 s: a purge or a close that it held would take as long.
    auto started = Clock::now();
    c.Os().PurgeComm(c.port.m_hPort, kPurgeAll);
    EXPECT_LT(MsSince(started), 2500) << "a purge takes a bounded amount";
    started = Clock::now();
    EXPECT_EQ(c.port.Close(), 1);
    EXPECT_LT(MsSince(started), static_cast<long long>(kCloseLingerMs) + 2500);
    EXPECT_EQ(c.printer.Receive(sizeof init, 1000).size(), sizeof init) << "the command went out first";
}

TEST(NetworkLimits, ACloseWaitsNoLongerThanItsLingerForAPrinterThatNeverReads) {
    Connected c;
    ASSERT_GT(c.Queue(300), 0u);
    const auto started = Clock::now();
    EXPECT_EQ(c.port.Close(), 1);
    EXPECT_LT(MsSince(started), static_cast<long long>(kCloseLingerMs) + 2500);
}

// What a close waits for: the last commands reach a printer that takes them late, before the program ends.
// The printer holds 16 KiB unread and the port queues at most 256 KiB: little enough for a reader that
// starts late to take it all well within the close's linger on a busy machine, more than the printer
// holds, so the close has something to wait for.
TEST(NetworkLimits, TheCloseWaitsForWhatIsQueuedToReachAPrinterThatReadsLate) {
    Connected c(16 * 1024);
    const std::uint32_t queued = c.Queue(300, 256 * 1024);
    ASSERT_GT(queued, 0u);
    std::size_t received = 0;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        received = c.printer.Receive(queued, 5000).size();
    });
    const auto started = Clock::now();
    EXPECT_EQ(c.port.Close(), 1);
    const long long took = MsSince(started);
    reader.join();
    EXPECT_EQ(received, queued);
    EXPECT_GE(took, 300) << "the close ended before the printer had taken what was queued";
    EXPECT_LT(took, static_cast<long long>(kCloseLingerMs) + 700);
}

TEST(NetworkLimits, APurgeThrowsAwayWhatIsLeftOfAnEarlierReply) {
    Connected c;
    c.printer.Send({'_', 'L', 'T', 'X', 0, '.', '7', '!'}); // late and stray, sent at once
    // Its first byte is here, so the rest is too: loopback delivers what one send sent, so small, in one
    // piece.
    std::uint8_t first = 0;
    std::uint32_t got = 0;
    ASSERT_TRUE(c.Os().ReadFile(c.port.m_hPort, &first, 1, got));
    ASSERT_EQ(got, 1u);
    c.Os().PurgeComm(c.port.m_hPort, kPurgeAll);
    c.printer.Send({'.'});
    std::uint8_t reply[20] = {};
    EXPECT_EQ(c.port.Read(reply, 20), 1);
    EXPECT_EQ(reply[0], '.');
}

TEST(NetworkLimits, EachReadTakesTheLimitLastSet) {
    Connected c;
    std::uint8_t reply[4];
    for (std::uint32_t ms : {300u, 900u}) {
        TimeLimits limits = TransferTimeLimits();
        limits.readTotalConstant = ms;
        ASSERT_TRUE(c.Os().SetCommTimeouts(c.port.m_hPort, limits));
        const auto asked = Clock::now();
        EXPECT_EQ(c.port.Read(reply, 4), 0);
        EXPECT_GE(MsSince(asked), static_cast<long long>(ms) - 50);
        EXPECT_LT(MsSince(asked), static_cast<long long>(ms) + 1500);
    }
}

} // namespace
