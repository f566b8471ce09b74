// The Linux backend over a real pseudo-terminal.
#include "link/posix/posix_device_services.h"
#include "link/posix/waits.h"
#include "link/printer_port.h"
#include "tests/support/blocked_thread.h"
#include "tests/support/pty.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace pw;
using pw::test::Pty;
using pw::test::ThreadId;
using pw::test::WaitUntilBlockedInPoll;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// How long a test waits for something that takes a moment on an idle machine.
constexpr auto kEventBound = std::chrono::seconds(10);

// The terminal's input queue, seen through a descriptor of the test's own, opened before the port takes the
// terminal for itself: what has reached the terminal and waits to be read.
class TerminalInput {
  public:
    explicit TerminalInput(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~TerminalInput() {
        if (m_fd >= 0) ::close(m_fd);
    }
    TerminalInput(const TerminalInput&) = delete;
    TerminalInput& operator=(const TerminalInput&) = delete;

    int Queued() const {
        int n = -1;
        return m_fd >= 0 && ::ioctl(m_fd, FIONREAD, &n) == 0 ? n : -1;
    }
    ::testing::AssertionResult WaitFor(int count) const {
        const auto until = Clock::now() + kEventBound;
        while (Clock::now() < until) {
            if (Queued() >= count) return ::testing::AssertionSuccess();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return ::testing::AssertionFailure()
               << Queued() << " bytes of " << count << " reached the terminal in 10 s";
    }

  private:
    int m_fd;
};

class PosixBackend : public ::testing::Test {
  protected:
    Pty pty;
    posix::PosixDeviceServices os;
    CPrinterPort port{os};
    void SetUp() override {
        port.m_strPort = "COM1";
        ::setenv("PINWRIGHT_COM1", pty.SlavePath().c_str(), 1);
        port.m_nBaudRate = 115200;
        port.m_nByteSize = 8;
        port.m_nParity = 0;
        port.m_nStopBits = 0;
    }
    void TearDown() override {
        port.Close();
        ::unsetenv("PINWRIGHT_COM1");
    }
};

TEST_F(PosixBackend, SerialOpenSucceedsAlthoughAPtyHasNoModemLines) {
    ASSERT_EQ(port.Open(), 1) << os.LastOpenProblem();
    LineSettings s{};
    ASSERT_TRUE(os.GetCommState(port.m_hPort, s));
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 0);
}

TEST_F(PosixBackend, LineSettingsReachTheTerminal) {
    port.m_nByteSize = 7;
    port.m_nParity = 1;
    port.m_nStopBits = 2;
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    LineSettings s{};
    ASSERT_TRUE(os.GetCommState(port.m_hPort, s));
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.stopBits, 2);
    // A pseudo-terminal forces 8 data bits without parity, so those two cannot be read back here.
}

TEST_F(PosixBackend, BytesWrittenArriveIntact) {
    ASSERT_EQ(port.Open(), 1);
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(port.Write(all.data(), 256), 256u);
    EXPECT_EQ(pty.Receive(256), all);
}

TEST_F(PosixBackend, ReadReturnsAsSoonAsTheRequestedBytesArrive) {
    ASSERT_EQ(port.Open(), 1);
    const std::atomic<pid_t> reader{ThreadId()};
    ::testing::AssertionResult blocked = ::testing::AssertionSuccess();
    Clock::time_point sent;
    std::thread sender([&] {
        blocked = WaitUntilBlockedInPoll(reader); // the bytes come to a read that waits for them
        sent = Clock::now();
        pty.Send({'7', '!', '0', '1'});
    });
    std::uint8_t buf[4] = {};
    EXPECT_EQ(port.Read(buf, 4), 4);
    const auto returned = Clock::now();
    sender.join();
    EXPECT_TRUE(blocked);
    // Its limit is 5 s: a read that waited for it, or for more bytes, would take that long.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - sent).count(), 2500);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "7!01");
}

TEST_F(PosixBackend, SerialReadEndsAfterFiveSecondsWithWhatCame) {
    ASSERT_EQ(port.Open(), 1);
    pty.Send({'.'});
    std::uint8_t buf[10] = {};
    auto t = Clock::now();
    EXPECT_EQ(port.Read(buf, 10), 1);
    long ms = MsSince(t);
    EXPECT_GE(ms, 4990);
    EXPECT_LT(ms, 7500);
    EXPECT_EQ(buf[0], '.');
}

TEST_F(PosixBackend, TransferReadReturnsOnAnyBytes) {
    TerminalInput input(pty.SlavePath());
    ASSERT_EQ(port.Open(), 1);
    ASSERT_TRUE(os.SetCommTimeouts(port.m_hPort, TransferTimeLimits()));
    pty.Send({'_', 'A', 0});
    ASSERT_TRUE(input.WaitFor(3));
    std::uint8_t buf[20] = {};
    auto t = Clock::now();
    EXPECT_EQ(port.Read(buf, 20), 3);
    EXPECT_LT(MsSince(t), 2500) << "a read for 20 bytes, or one that waited for its 5 s, would take 5 s";
}

TEST_F(PosixBackend, PurgeDropsPendingInput) {
    TerminalInput input(pty.SlavePath());
    ASSERT_EQ(port.Open(), 1);
    pty.Send({'x', 'y', 'z'});
    ASSERT_TRUE(input.WaitFor(3));
    os.PurgeComm(port.m_hPort, kPurgeAll);
    ASSERT_TRUE(os.SetCommTimeouts(port.m_hPort, TransferTimeLimits()));
    pty.Send({'.'});
    std::uint8_t buf[4] = {};
    EXPECT_EQ(port.Read(buf, 4), 1);
    EXPECT_EQ(buf[0], '.');
}

TEST_F(PosixBackend, ASecondExclusiveOpenFails) {
    ASSERT_EQ(port.Open(), 1);
    DeviceHandle second = os.CreateFile(pty.SlavePath(), ShareMode::Exclusive);
    EXPECT_EQ(second, kInvalidHandle);
    EXPECT_EQ(os.GetLastError(), kErrorSharingViolation);
    // Root gets past the terminal's exclusive flag to our lock ("in use"); anyone else stops at the flag.
    EXPECT_TRUE(os.LastOpenProblem().find("in use") != std::string::npos ||
                os.LastOpenProblem().find("is busy") != std::string::npos)
        << os.LastOpenProblem();
    port.Close();
    second = os.CreateFile(pty.SlavePath(), ShareMode::Exclusive);
    EXPECT_NE(second, kInvalidHandle) << "released by Close";
    os.CloseHandle(second);
}

TEST_F(PosixBackend, MissingDeviceFailsTheOpenWithNotFound) {
    ::setenv("PINWRIGHT_COM1", "/nonexistent/pinwright-port", 1);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_EQ(os.GetLastError(), kErrorFileNotFound);
    EXPECT_NE(os.LastOpenProblem().find("/nonexistent/pinwright-port"), std::string::npos);
}

TEST_F(PosixBackend, AFileIsNeverOpenedAsAPortAndADeviceThatIsNoSerialPortSaysSo) {
    // A plain file, a pipe: refused before anything could be written to them.
    const std::string file = "/tmp/pinwright-not-a-tty-" + std::to_string(::getpid());
    const std::string fifo = file + ".fifo";
    std::fclose(std::fopen(file.c_str(), "w"));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {file, fifo}) {
        ::setenv("PINWRIGHT_COM1", path.c_str(), 1);
        EXPECT_EQ(port.Open(), 0) << path;
        EXPECT_EQ(port.m_hPort, kNoDevice) << path;
        EXPECT_NE(os.LastOpenProblem().find(path + " (COM1) is not a device"), std::string::npos)
            << os.LastOpenProblem();
    }
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    std::remove(file.c_str());
    std::remove(fifo.c_str());
    // A character device without line settings opens, and its line settings fail with the reason.
    ::setenv("PINWRIGHT_COM1", "/dev/null", 1);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_NE(os.LastOpenProblem().find("/dev/null is not a serial port"), std::string::npos)
        << os.LastOpenProblem();
    port.Close();
}

TEST_F(PosixBackend, StoppingAWorkerEndsItsBlockedReadAtOnce) {
    ASSERT_EQ(port.Open(), 1);
    std::atomic<int> got{-1};
    std::atomic<pid_t> reader{0};
    ThreadHandle worker = os.StartThread([&] {
        reader = ThreadId();
        std::uint8_t buf[20];
        got = port.Read(buf, 20);
    });
    EXPECT_TRUE(WaitUntilBlockedInPoll(reader));
    auto t = Clock::now();
    os.StopThread(worker);
    os.JoinThread(worker);
    EXPECT_EQ(got, 0);
    EXPECT_LT(MsSince(t), 2500) << "the read waited for its 5 s";
}

TEST_F(PosixBackend, ReopeningWorksWhileAnotherProgramHoldsTheTerminal) {
    // The virtual printer, like a getty or a second tool, keeps the terminal open between our sessions.
    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(port.Open(), 1) << "round " << round << ": " << os.LastOpenProblem();
        port.Close();
        int exclusive = -1;
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "the exclusive flag outlived our close; a normal user's next open fails";
    }
    ::close(other);
}

TEST_F(PosixBackend, ParityOnAPseudoTerminalOpensEveryTime) {
    // The virtual printer's line takes no parity; Change Comm Type and a new check must still open it.
    pw::test::SimProcess sim;
    ::setenv("PINWRIGHT_COM1", sim.PtyPath().c_str(), 1);
    port.m_nParity = 2;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(port.Open(), 1) << "round " << round << ": " << os.LastOpenProblem();
        port.Close();
    }
}

TEST_F(PosixBackend, DestroyingTheServicesWakesABlockedReader) {
    auto services = std::make_unique<posix::PosixDeviceServices>();
    CPrinterPort p2{*services};
    p2.m_strPort = "COM1";
    p2.m_nBaudRate = 9600;
    p2.m_nByteSize = 8;
    ASSERT_EQ(p2.Open(), 1);
    std::atomic<pid_t> reader{0};
    services->StartThread([&] {
        reader = ThreadId();
        std::uint8_t buf[20];
        p2.Read(buf, 20);
    });
    EXPECT_TRUE(WaitUntilBlockedInPoll(reader));
    const auto t = Clock::now();
    services.reset();
    EXPECT_LT(MsSince(t), 2500) << "the destructor waited out the reader's 5 s";
}

TEST(PosixTimeouts, FarDeadlinesNeverTurnIntoAnEndlessPoll) {
    EXPECT_EQ(posix::PollTimeout(100, 200), 0);
    EXPECT_EQ(posix::PollTimeout(300, 200), 100);
    EXPECT_EQ(posix::PollTimeout(0xFFFFFFFFull * 6 + 1000, 5), INT_MAX);
}

TEST(PosixUsbDiscovery, OneWalkSeesOneSnapshotOfTheFolder) {
    const std::string dir = "/tmp/pinwright-usb-walk-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    std::fclose(std::fopen((dir + "/lp1").c_str(), "w"));
    ::setenv("PINWRIGHT_USB_DIR", dir.c_str(), 1);
    posix::PosixDeviceServices os;
    std::string path;
    ASSERT_TRUE(os.EnumUsbInterface(0, path));
    EXPECT_EQ(path, dir + "/lp1");
    std::fclose(std::fopen((dir + "/lp0").c_str(), "w")); // plugged in during the walk
    EXPECT_FALSE(os.EnumUsbInterface(1, path)) << "the walk saw " << path << " twice";
    EXPECT_EQ(os.GetLastError(), kErrorNoMoreItems);
    ASSERT_TRUE(os.EnumUsbInterface(0, path));
    EXPECT_EQ(path, dir + "/lp0") << "a new walk sees the new device";
    ::unsetenv("PINWRIGHT_USB_DIR");
    std::filesystem::remove_all(dir);
}

} // namespace
