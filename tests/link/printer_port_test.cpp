#include "link/printer_port.h"

#include "link/usb_discovery.h"
#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace pw;
using pw::test::Bytes;
using pw::test::FakeDeviceServices;
using pw::test::WriteOutcome;

namespace {

// What the port tells its owner of problems no result carries.
struct MessageLog {
    std::vector<std::string> shown;
    explicit MessageLog(CPrinterPort& port) {
        port.m_onProblem = [this](const std::string& t, const std::string&) { shown.push_back(t); };
    }
};

struct QuietDiscovery {
    std::FILE* sink = std::tmpfile();
    QuietDiscovery() { SetDiscoveryOutput(sink); }
    ~QuietDiscovery() {
        SetDiscoveryOutput(nullptr);
        std::fclose(sink);
    }
};

class PortTest : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    CPrinterPort port{os};
    MessageLog messages{port};
    QuietDiscovery quiet;
};

TEST_F(PortTest, NamesAreMatchedByteForByteAndCaseSensitively) {
    os.AddDevice("com1");
    os.AddDevice("USB1");
    port.m_strPort = "com1";
    EXPECT_EQ(port.Open(), 0);
    port.m_strPort = "USB1";
    EXPECT_EQ(port.Open(), 0);
    port.m_strPort = "lpt1";
    EXPECT_EQ(port.Open(), 0);
    EXPECT_TRUE(os.opened.empty()) << "names that select no kind must open nothing";
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortTest, ComAndLptPrefixesOpenTheNameUnchanged) {
    os.AddDevice("COMfoo");
    os.AddDevice("LPT9x");
    port.m_strPort = "COMfoo";
    port.m_nBaudRate = 9600;
    port.m_nByteSize = 8;
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.m_nKind, kSerial);
    port.m_strPort = "LPT9x";
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.m_nKind, kParallel);
    EXPECT_EQ(os.opened, (std::vector<std::string>{"COMfoo", "LPT9x"}));
}

TEST_F(PortTest, SerialOpenWritesLineSettingsTimeLimitsAndPurges) {
    auto& dev = os.AddDevice("COM2");
    dev.settings.flags = 0xFFFFFFFFu;
    dev.settings.byteSize = 7;
    port.m_strPort = "COM2";
    port.m_nBaudRate = 115200;
    port.m_nByteSize = 0x108; // only the low byte counts
    port.m_nParity = 0x200;   // low byte 0: no parity
    port.m_nStopBits = 0x301;
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(dev.settings.baudRate, 115200u);
    EXPECT_EQ(dev.settings.byteSize, 8);
    EXPECT_EQ(dev.settings.parity, 0);
    EXPECT_EQ(dev.settings.stopBits, 1);
    // Parity is nonzero as a whole, so parity checking is on although the low byte is zero.
    EXPECT_EQ(dev.settings.flags, (0xFFFFFFFFu & 0xFFFF9499u) | 0x1018u | 0x0002u);
    EXPECT_EQ(dev.limits.readInterval, 0u);
    EXPECT_EQ(dev.limits.readTotalMultiplier, 0u);
    EXPECT_EQ(dev.limits.readTotalConstant, 5000u);
    EXPECT_EQ(dev.limits.writeTotalMultiplier, 5u);
    EXPECT_EQ(dev.limits.writeTotalConstant, 1000u);
    EXPECT_EQ(dev.purges, 1);
}

TEST(SerialFlagsWord, ParityTurnsCheckingOnAndKeepsTheOtherBits) {
    EXPECT_EQ(SerialFlagsWord(0, 0), 0x1018u);
    EXPECT_EQ(SerialFlagsWord(0, 1), 0x101Au);
    EXPECT_EQ(SerialFlagsWord(0, 2), 0x101Au);
    EXPECT_EQ(SerialFlagsWord(0x0001, 0), 0x1019u); // binary mode kept
    EXPECT_EQ(SerialFlagsWord(0x6B66, 0), 0x1018u); // every bit outside the mask cleared
    EXPECT_EQ(SerialFlagsWord(0xFFFF0000u, 2), 0xFFFF101Au);
}

TEST_F(PortTest, SerialOpenThatFailsAfterTheDeviceOpenedStillHoldsIt) {
    auto& dev = os.AddDevice("COM1");
    dev.failSetCommState = true;
    port.m_nBaudRate = 9600;
    EXPECT_EQ(port.Open(), 0);
    EXPECT_NE(port.m_hPort, kNoDevice);
    EXPECT_TRUE(dev.held);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_FALSE(dev.held);
}

TEST_F(PortTest, ASecondOpenReleasesTheFirstDevice) {
    auto& com = os.AddDevice("COM1");
    auto& lpt = os.AddDevice("LPT1");
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    port.m_strPort = "LPT1";
    ASSERT_EQ(port.Open(), 1);
    EXPECT_FALSE(com.held);
    EXPECT_EQ(com.purges, 1) << "the first device is released by a plain close, without purging";
    EXPECT_TRUE(lpt.held);
    // A name that selects no kind leaves the held device as it was.
    port.m_strPort = "XYZ";
    EXPECT_EQ(port.Open(), 0);
    EXPECT_TRUE(lpt.held);
}

TEST_F(PortTest, CloseWithoutDeviceReturnsZeroAndPurgesByKind) {
    EXPECT_EQ(port.Close(), 0);
    auto& com = os.AddDevice("COM1");
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(com.commMaskCalls, 1);
    EXPECT_EQ(com.purges, 2);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_EQ(port.Close(), 0);
}

// A close lets the driver's queue leave the line at the line's rate and frame, then throws away input only.
TEST_F(PortTest, CloseWaitsForQueuedOutputToLeaveTheLineAtItsFrameThenPurgesInputOnly) {
    struct Line {
        std::int32_t baud, byteSize, parity, stopBits;
        std::uint32_t bitsPerByte;
    };
    for (const Line l : {Line{9600, 8, 0, 0, 10}, Line{1200, 7, 2, 2, 11}, Line{115200, 8, 1, 0, 11}}) {
        FakeDeviceServices clock;
        CPrinterPort p(clock);
        auto& com = clock.AddDevice("COM1");
        com.sendsAtLineRate = true;
        p.m_nBaudRate = l.baud;
        p.m_nByteSize = l.byteSize;
        p.m_nParity = l.parity;
        p.m_nStopBits = l.stopBits;
        ASSERT_EQ(p.Open(), 1);
        const Bytes bytes(57, 0x1D);
        ASSERT_EQ(p.Write(bytes.data(), 57), 57u);
        const std::uint32_t t0 = clock.Now();
        EXPECT_EQ(p.Close(), 1);
        const std::uint32_t lineMs = (57 * l.bitsPerByte * 1000 + l.baud - 1) / l.baud;
        EXPECT_GE(clock.Now() - t0, lineMs - 1) << l.baud << ": closed before the bytes left";
        EXPECT_LE(clock.Now() - t0, lineMs + 5) << l.baud << ": waited past the last byte";
        EXPECT_TRUE(com.discarded.empty()) << l.baud;
        EXPECT_EQ(com.received, bytes) << l.baud;
        EXPECT_FALSE(com.held);
        ASSERT_FALSE(com.purgeFlags.empty());
        EXPECT_EQ(com.purgeFlags.back(), kPurgeInput) << "the close throws away input only";
    }
}

TEST_F(PortTest, CloseGivesUpOnOutputHeldBackOnceItsBoundHasPassed) {
    auto& com = os.AddDevice("COM1");
    com.sendsAtLineRate = true;
    com.outputHeld = true; // the printer holds the line (flow control) for ever
    port.m_nBaudRate = 9600;
    port.m_nByteSize = 8;
    ASSERT_EQ(port.Open(), 1);
    const Bytes bytes(18, 0x1B);
    ASSERT_EQ(port.Write(bytes.data(), 18), 18u);
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(port.Close(), 1);
    const std::uint32_t limit = OutputDrainLimitMs(18, 9600, 8, 0, 0);
    EXPECT_EQ(limit, 2 * 19 + 100u) << "twice 18 frames of 10 bits at 9600 baud, and 100 ms";
    EXPECT_GE(os.Now() - t0, limit);
    EXPECT_LE(os.Now() - t0, limit + 5);
    EXPECT_EQ(com.discarded, bytes) << "what could not leave is thrown away, not kept for the next open";
    EXPECT_EQ(OutputDrainLimitMs(1000000, 1200, 8, 0, 0), 10000u) << "never more than 10 s";
}

TEST_F(PortTest, WriteOfLengthZeroMakesOneAttempt) {
    auto& dev = os.AddDevice("COM1");
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Write("", 0), 0u);
    EXPECT_EQ(dev.attemptTimes.size(), 1u);
}

TEST_F(PortTest, PartialAttemptsDeliverTheRestFiftyMillisecondsApart) {
    auto& dev = os.AddDevice("COM1");
    dev.acceptScript = [](int, std::uint32_t requested) {
        return WriteOutcome::All(std::min(requested, 4u));
    };
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(port.Write(data.data(), 10), 10u);
    EXPECT_EQ(dev.received, data);
    ASSERT_EQ(dev.attemptTimes.size(), 3u);
    EXPECT_EQ(dev.attemptTimes[1] - dev.attemptTimes[0], 50u);
    EXPECT_EQ(dev.attemptTimes[2] - dev.attemptTimes[1], 50u);
}

TEST_F(PortTest, ADeviceThatOverReportsNeverGetsMoreThanLength) {
    auto& dev = os.AddDevice("COM1");
    dev.acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(100); };
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Write("abc", 3), 3u);
    EXPECT_EQ(dev.received.size(), 3u);
}

TEST_F(PortTest, ADeviceThatTakesNothingGivesUpAtTheFirstCheckAfterTenSeconds) {
    auto& dev = os.AddDevice("COM1");
    dev.acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(0); };
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    const std::uint32_t before = os.Now();
    EXPECT_EQ(port.Write("abc", 3), 0u);
    // 200 attempts, each followed by a 50 ms pause; the check after the 200th pause finds 10000 ms.
    EXPECT_EQ(dev.attemptTimes.size(), 200u);
    EXPECT_EQ(os.Now() - before, 10000u);
}

TEST_F(PortTest, FailedAttemptsAreRetriedWithinTheLimit) {
    auto& dev = os.AddDevice("LPT1");
    dev.acceptScript = [](int attempt, std::uint32_t n) {
        return attempt < 3 ? WriteOutcome{WriteOutcome::Fail, 0, kErrorGenFailure, 0} : WriteOutcome::All(n);
    };
    port.m_strPort = "LPT1";
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Write("abcd", 4), 4u);
    EXPECT_EQ(dev.attemptTimes.size(), 4u);
}

TEST_F(PortTest, PendingSerialAttemptIsPolledEveryTwentyMilliseconds) {
    auto& dev = os.AddDevice("COM1");
    dev.acceptScript = [](int, std::uint32_t n) { return WriteOutcome{WriteOutcome::Pending, n, 0, 70}; };
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    os.sleeps.clear();
    EXPECT_EQ(port.Write("abc", 3), 3u);
    EXPECT_EQ(os.sleeps, (std::vector<std::uint32_t>{20, 20, 20, 20}));
}

TEST_F(PortTest, PendingSerialAttemptIsCancelledPastItsWaitLimit) {
    auto& dev = os.AddDevice("COM1");
    dev.acceptScript = [](int attempt, std::uint32_t n) {
        return attempt == 0 ? WriteOutcome{WriteOutcome::Pending, n, 0, 60000} : WriteOutcome::All(n);
    };
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    const std::uint32_t before = os.Now();
    EXPECT_EQ(port.Write("ab", 2), 2u);
    // The attempt is abandoned at the first poll that finds more than 5 x 2 + 5000 ms gone.
    EXPECT_EQ(dev.attemptTimes.size(), 2u);
    EXPECT_EQ(dev.attemptTimes[1] - before, 5020u + 50u);
}

TEST_F(PortTest, PendingParallelAttemptIsWaitedFor) {
    auto& dev = os.AddDevice("LPT1");
    dev.acceptScript = [](int, std::uint32_t n) { return WriteOutcome{WriteOutcome::Pending, n, 0, 300}; };
    port.m_strPort = "LPT1";
    ASSERT_EQ(port.Open(), 1);
    os.sleeps.clear();
    EXPECT_EQ(port.Write("ab", 2), 2u);
    EXPECT_TRUE(os.sleeps.empty());
}

TEST_F(PortTest, WriteWithoutDeviceFailsAfterTheLimitOnSerial) {
    port.m_nKind = kSerial;
    const std::uint32_t before = os.Now();
    EXPECT_EQ(port.Write("ab", 2), 0u);
    EXPECT_EQ(os.Now() - before, 10000u);
}

class UsbPortTest : public PortTest {
  protected:
    void SetUp() override {
        os.usbInterfaces = {"/dev/usb/lp0"};
        os.AddDevice("/dev/usb/lp0");
        os.AddDevice("/dev/usb/lp0\\USB0/4");
        port.m_strPort = "USB";
    }
};

TEST_F(UsbPortTest, OpensTheCompleteNameOfTheFirstInterface) {
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.m_nKind, kUsb);
    EXPECT_EQ(os.opened, (std::vector<std::string>{"/dev/usb/lp0", "/dev/usb/lp0\\USB0/4"}));
    EXPECT_TRUE(os.DeviceNamed("/dev/usb/lp0\\USB0/4")->held);
    EXPECT_FALSE(os.DeviceNamed("/dev/usb/lp0")->held) << "the probe handle is closed first";
}

TEST_F(UsbPortTest, RefusedByTheVersionGateOpensNothingAndSaysNothing) {
    os.version = OsVersion{2, 4, 0};
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_nKind, kUsb);
    EXPECT_TRUE(os.opened.empty());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(UsbPortTest, NoDeviceShowsThePlainMessage) {
    os.usbInterfaces.clear();
    EXPECT_EQ(port.Open(), 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], "Fail to get USB Handle");
}

TEST_F(UsbPortTest, AccessDeniedRediscoversAndGoesOnWithTheNewDevice) {
    auto& dev = *os.DeviceNamed("/dev/usb/lp0\\USB0/4");
    ASSERT_EQ(port.Open(), 1);
    const DeviceHandle old = port.m_hPort;
    // The first attempt is refused; the device is found again at the same path and takes the bytes.
    dev.acceptScript = [calls = 0](int, std::uint32_t n) mutable {
        return calls++ == 0 ? WriteOutcome{WriteOutcome::Fail, 0, kErrorAccessDenied, 0}
                            : WriteOutcome::All(n);
    };
    EXPECT_EQ(port.Write("abc", 3), 3u);
    EXPECT_NE(port.m_hPort, old);
    EXPECT_EQ(dev.received, (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(UsbPortTest, InvalidHandleWithTheDeviceGoneReturnsWhatWentOut) {
    auto& dev = *os.DeviceNamed("/dev/usb/lp0\\USB0/4");
    ASSERT_EQ(port.Open(), 1);
    dev.acceptScript = [&](int attempt, std::uint32_t n) {
        if (attempt == 0) return WriteOutcome::All(std::min(n, 2u));
        os.usbInterfaces.clear(); // pulled out
        return WriteOutcome{WriteOutcome::Fail, 0, kErrorInvalidHandle, 0};
    };
    EXPECT_EQ(port.Write("abcd", 4), 2u);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], "Fail to get USB Handle");
    EXPECT_EQ(port.m_hPort, kNoDevice);
}

TEST_F(UsbPortTest, WriteWithoutDeviceDiscoversAtOnce) {
    port.m_nKind = kUsb;
    EXPECT_EQ(port.Write("ab", 2), 2u);
    EXPECT_NE(port.m_hPort, kNoDevice);
}

TEST_F(UsbPortTest, OtherErrorsAreRetriedLikeSerial) {
    auto& dev = *os.DeviceNamed("/dev/usb/lp0\\USB0/4");
    ASSERT_EQ(port.Open(), 1);
    dev.acceptScript = [](int attempt, std::uint32_t n) {
        return attempt < 2 ? WriteOutcome{WriteOutcome::Fail, 0, kErrorGenFailure, 0} : WriteOutcome::All(n);
    };
    EXPECT_EQ(port.Write("ab", 2), 2u);
    EXPECT_EQ(dev.opens, 1);
}

class NetworkPortTest : public PortTest {
  protected:
    static constexpr const char* kName = "tcp://192.168.1.50:9100";
    pw::test::FakeDevice& printer = os.AddDevice(kName);
    void SetUp() override { port.m_strPort = kName; }
};

TEST_F(NetworkPortTest, OpensTheAddressWithTransferLimitsAndNeverPurges) {
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.m_nKind, kNetwork);
    EXPECT_EQ(os.opened, (std::vector<std::string>{kName}));
    EXPECT_EQ(printer.limits.readInterval, kMaxDword) << "a reply is read as soon as any bytes came";
    EXPECT_EQ(printer.limits.readTotalConstant, 5000u);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(printer.purges, 0);
    EXPECT_EQ(printer.commMaskCalls, 0);
    EXPECT_FALSE(printer.held);
}

TEST_F(NetworkPortTest, AConnectLimitOfItsOwnReachesTheServicesWhileTheDialogsOpenStaysCreateFile) {
    ASSERT_EQ(port.Open(), 1);
    EXPECT_TRUE(os.connectLimits.empty()) << "the usual limit is the backend's own CreateFile";
    port.Close();
    port.m_nConnectLimitMs = 1000;
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(os.connectLimits, (std::vector<std::uint32_t>{1000}));
    EXPECT_EQ(os.opened, (std::vector<std::string>{kName, kName}));
    EXPECT_EQ(printer.limits.readTotalConstant, 5000u) << "the reads' limits are the usual ones";
    port.Close();
}

TEST_F(NetworkPortTest, OnlyTheLowerCasePrefixSelectsTheNetwork) {
    os.AddDevice("TCP://192.168.1.50:9100");
    port.m_strPort = "TCP://192.168.1.50:9100";
    EXPECT_EQ(port.Open(), 0);
    EXPECT_TRUE(os.opened.empty());
}

TEST_F(NetworkPortTest, ARefusedConnectionHoldsNothingAndLeavesTheMessageToTheCaller) {
    printer.openError = kErrorGenFailure;
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(NetworkPortTest, ADroppedConnectionEndsTheWriteAtOnceWithWhatWentOut) {
    ASSERT_EQ(port.Open(), 1);
    printer.acceptScript = [](int attempt, std::uint32_t n) {
        return attempt == 0 ? WriteOutcome::All(std::min(n, 3u))
                            : WriteOutcome{WriteOutcome::Fail, 0, kErrorGenFailure, 0};
    };
    const std::uint32_t before = os.Now();
    EXPECT_EQ(port.Write("abcdef", 6), 3u);
    EXPECT_EQ(printer.attemptTimes.size(), 2u) << "no retries on a connection that is gone";
    EXPECT_EQ(os.Now() - before, 50u);
    EXPECT_EQ(printer.opens, 1) << "no reconnect behind the caller's back";
}

TEST_F(NetworkPortTest, APrinterThatTakesNothingIsRetriedForTenSecondsAsOnUsb) {
    ASSERT_EQ(port.Open(), 1);
    printer.acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(0); };
    const std::uint32_t before = os.Now();
    EXPECT_EQ(port.Write("abc", 3), 0u);
    EXPECT_EQ(os.Now() - before, 10000u);
}

TEST(IsUsbSupportedOS, FollowsThePlatformTable) {
    FakeDeviceServices os;
    struct Case {
        std::uint32_t id, major, minor;
        int answer;
    } cases[] = {{1, 4, 0, 0}, {1, 4, 10, 1}, {1, 4, 90, 1}, {2, 4, 0, 0},    {2, 3, 51, 0},
                 {2, 5, 0, 1}, {2, 10, 0, 1}, {0, 0, 0, 1},  {0x100, 0, 0, 1}};
    for (auto c : cases) {
        os.version = OsVersion{c.id, c.major, c.minor};
        EXPECT_EQ(IsUsbSupportedOS(os), c.answer) << c.id << " " << c.major << "." << c.minor;
    }
    os.version = OsVersion{2, 5, 0};
    os.extendedVersionFails = true;
    EXPECT_EQ(IsUsbSupportedOS(os), 1) << "falls back to the basic record";
    os.version.reset();
    EXPECT_EQ(IsUsbSupportedOS(os), 0);
}

TEST(IsUsbSupportedOS, AnswersYesOnLinux) {
    EXPECT_EQ(IsUsbSupportedOS(PlatformServices()), 1);
}

} // namespace

namespace {

// A device file given by its path opens by the rules of its kind, and a USB one is never searched for.
TEST_F(PortTest, DeviceFilesOpenAsTheirKindByTheSameRules) {
    pw::test::FakeDevice& tty = os.AddDevice("/dev/ttyUSB0");
    port.m_nBaudRate = 38400;
    port.m_nByteSize = 8;
    port.m_nParity = 1;
    ASSERT_EQ(port.OpenDeviceFile("/dev/ttyUSB0", kSerial), 1);
    EXPECT_EQ(port.m_nKind, kSerial);
    EXPECT_EQ(tty.settings.baudRate, 38400u);
    EXPECT_EQ(tty.settings.flags & kFlagParity, kFlagParity);
    EXPECT_EQ(tty.limits.readTotalConstant, 5000u);
    EXPECT_EQ(tty.limits.readInterval, 0u) << "a serial read waits for every byte asked for";
    port.Close();

    pw::test::FakeDevice& lp = os.AddDevice("/dev/lp1");
    ASSERT_EQ(port.OpenDeviceFile("/dev/lp1", kParallel), 1);
    EXPECT_EQ(port.m_nKind, kParallel);
    EXPECT_EQ(lp.limits.readInterval, kMaxDword);
    port.Close();

    pw::test::FakeDevice& usb = os.AddDevice("/dev/usb/lp3");
    os.usbInterfaces = {"/dev/usb/lp0"};
    ASSERT_EQ(port.OpenDeviceFile("/dev/usb/lp3", kUsb), 1);
    EXPECT_EQ(port.m_nKind, kUsb);
    EXPECT_EQ(usb.limits.readInterval, kMaxDword) << "reads end as soon as any bytes came";
    // A write that loses the device opens the same file again.
    usb.acceptScript = [calls = 0](int, std::uint32_t n) mutable {
        return calls++ == 0 ? WriteOutcome{WriteOutcome::Fail, 0, kErrorAccessDenied, 0}
                            : WriteOutcome::All(n);
    };
    EXPECT_EQ(port.Write("ab", 2), 2u);
    EXPECT_EQ(os.opened,
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/lp1", "/dev/usb/lp3", "/dev/usb/lp3"}));
    EXPECT_TRUE(messages.shown.empty());
    port.Close();

    EXPECT_EQ(port.OpenDeviceFile("/dev/usb/lp9", kUsb), 0);
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Fail to get USB Handle"});
    EXPECT_EQ(port.m_hPort, kNoDevice);

    // Opening by name again forgets the file: "USB" searches.
    os.AddDevice("/dev/usb/lp0");
    os.AddDevice("/dev/usb/lp0\\USB0/4");
    port.m_strPort = "USB";
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(os.opened.back(), "/dev/usb/lp0\\USB0/4");
}

} // namespace
