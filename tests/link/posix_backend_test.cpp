// The Linux backend over a real pseudo-terminal.
#include "link/posix/posix_device_services.h"
#include "link/printer_port.h"
#include "tests/support/pty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace pw;
using pw::test::Pty;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

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
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Send({'7', '!', '0', '1'});
    });
    std::uint8_t buf[4] = {};
    auto t = Clock::now();
    EXPECT_EQ(port.Read(buf, 4), 4);
    EXPECT_LT(MsSince(t), 2000);
    sender.join();
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
    EXPECT_LT(ms, 6000);
    EXPECT_EQ(buf[0], '.');
}

TEST_F(PosixBackend, TransferReadReturnsOnAnyBytes) {
    ASSERT_EQ(port.Open(), 1);
    ASSERT_TRUE(os.SetCommTimeouts(port.m_hPort, TransferTimeLimits()));
    pty.Send({'_', 'A', 0});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::uint8_t buf[20] = {};
    auto t = Clock::now();
    EXPECT_EQ(port.Read(buf, 20), 3);
    EXPECT_LT(MsSince(t), 1000);
}

TEST_F(PosixBackend, PurgeDropsPendingInput) {
    ASSERT_EQ(port.Open(), 1);
    pty.Send({'x', 'y', 'z'});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
    EXPECT_NE(os.LastOpenProblem().find("in use"), std::string::npos);
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

TEST_F(PosixBackend, AFileThatIsNoSerialPortFailsTheOpenAndSaysSo) {
    const std::string file = "/tmp/pinwright-not-a-tty-" + std::to_string(::getpid());
    std::fclose(std::fopen(file.c_str(), "w"));
    ::setenv("PINWRIGHT_COM1", file.c_str(), 1);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_NE(os.LastOpenProblem().find("is not a serial port"), std::string::npos) << os.LastOpenProblem();
    port.Close();
    std::remove(file.c_str());
}

TEST_F(PosixBackend, StoppingAWorkerEndsItsBlockedReadAtOnce) {
    ASSERT_EQ(port.Open(), 1);
    std::atomic<int> got{-1};
    auto t = Clock::now();
    ThreadHandle worker = os.StartThread([&] {
        std::uint8_t buf[20];
        got = port.Read(buf, 20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    os.StopThread(worker);
    os.JoinThread(worker);
    EXPECT_EQ(got, 0);
    EXPECT_LT(MsSince(t), 1000);
}

} // namespace
