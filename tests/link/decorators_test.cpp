// The device services decorators: the trace of the line, and the stop that cuts waits short but never a
// command, so that a write sequence still leaves user setting mode.
#include "link/interruptible_device_services.h"
#include "link/printer_port.h"
#include "link/tracing_device_services.h"
#include "protocol/switch_sequences.h"
#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

using namespace pw;
using namespace pw::test;

namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The part of a trace line after its time stamp, which must be there and well formed.
std::string Body(const std::string& line) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::smatch m;
    if (!std::regex_search(line, m, stamp)) return "no time stamp: " + line;
    return m.suffix();
}

class Tracing : public ::testing::Test {
  protected:
    std::string path = (std::filesystem::temp_directory_path() /
                        ("pw-trace-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                           .string();
    void TearDown() override { std::filesystem::remove(path); }
    std::vector<std::string> Bodies() {
        std::vector<std::string> out;
        for (const auto& l : Lines(path)) out.push_back(Body(l));
        return out;
    }
};

TEST_F(Tracing, BytesThatWentOutAndCameInWithTheirDirectionAndPort) {
    FakeDeviceServices os;
    FakeDevice& dev = os.AddDevice("COM2");
    std::string error;
    auto sink = TraceSink::Open(path, error);
    ASSERT_TRUE(sink) << error;
    TracingDeviceServices traced(os, *sink); // named by the device
    CPrinterPort port(traced);
    port.m_strPort = "COM2";
    port.m_nBaudRate = 19200;
    port.m_nByteSize = 7;
    port.m_nParity = 2;
    ASSERT_EQ(port.Open(), 1);
    // The first attempt takes two of three bytes, the next the rest.
    dev.acceptScript = [](int attempt, std::uint32_t n) { return WriteOutcome::All(attempt == 0 ? 2 : n); };
    EXPECT_EQ(port.Write("\x1B\x40\x0A", 3), 3u);
    dev.ReplyAt(os.Now(), {'7', '!'});
    std::uint8_t buf[4] = {};
    EXPECT_EQ(port.Read(buf, 2), 2);
    EXPECT_EQ(port.Read(buf, 1), 0) << "nothing more came";
    port.Close();
    EXPECT_EQ(Bodies(),
              (std::vector<std::string>{"COM2 -- open COM2", "COM2 -- line 19200 7E1", "COM2 -> 1B 40",
                                        "COM2 -> 0A", "COM2 <- 37 21", "COM2 -- close"}));
}

TEST_F(Tracing, AConnectionWithALimitOfItsOwnIsTracedAsAnyOpen) {
    FakeDeviceServices os;
    os.AddDevice("tcp://10.0.0.5:9100");
    std::string error;
    auto sink = TraceSink::Open(path, error);
    ASSERT_TRUE(sink) << error;
    TracingDeviceServices traced(os, *sink);
    CPrinterPort port(traced);
    port.m_strPort = "tcp://10.0.0.6:9100";
    port.m_nConnectLimitMs = 700;
    EXPECT_EQ(port.Open(), 0);
    port.m_strPort = "tcp://10.0.0.5:9100";
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Write("\x10\x04\x01", 3), 3u);
    port.Close();
    EXPECT_EQ(os.connectLimits, (std::vector<std::uint32_t>{700, 700}));
    EXPECT_EQ(Bodies(),
              (std::vector<std::string>{"tcp://10.0.0.6:9100 -- cannot open tcp://10.0.0.6:9100",
                                        "tcp://10.0.0.5:9100 -- open tcp://10.0.0.5:9100",
                                        "tcp://10.0.0.5:9100 -> 10 04 01", "tcp://10.0.0.5:9100 -- close"}));
}

TEST_F(Tracing, APendingWriteIsTracedWhenItCompletesUnderTheGivenPortName) {
    FakeDeviceServices os;
    FakeDevice& dev = os.AddDevice("COM1");
    std::string error;
    auto sink = TraceSink::Open(path, error);
    TracingDeviceServices traced(os, *sink, "/dev/ttyUSB3");
    CPrinterPort port(traced);
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    dev.acceptScript = [](int, std::uint32_t n) { return WriteOutcome{WriteOutcome::Pending, n, 0, 70}; };
    EXPECT_EQ(port.Write("\x1D\x49\x01", 3), 3u);
    const auto bodies = Bodies();
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[2], "/dev/ttyUSB3 -> 1D 49 01");
}

// An attempt that never finishes is given up after its limit: its bytes are in the trace as cancelled, and
// nothing of it is kept.
TEST_F(Tracing, AWriteGivenUpIsTracedAsCancelledAndForgotten) {
    FakeDeviceServices os;
    FakeDevice& dev = os.AddDevice("COM1");
    std::string error;
    auto sink = TraceSink::Open(path, error);
    TracingDeviceServices traced(os, *sink);
    CPrinterPort port(traced);
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    dev.acceptScript = [](int, std::uint32_t) { return WriteOutcome{WriteOutcome::Pending, 0, 0, 1000000}; };
    EXPECT_EQ(port.Write("\x1D\x49\x01", 3), 0u);
    EXPECT_EQ(traced.PendingWrites(), 0u);
    // The write's 10 s: two attempts, each given up after its 5 s wait.
    const auto bodies = Bodies();
    ASSERT_EQ(bodies.size(), 4u) << ::testing::PrintToString(bodies);
    EXPECT_EQ(bodies[2], "COM1 -- write cancelled: 1D 49 01");
    EXPECT_EQ(bodies[3], "COM1 -- write cancelled: 1D 49 01");

    // A close ends an attempt that is still running: traced too, and forgotten.
    dev.acceptScript = [](int, std::uint32_t) { return WriteOutcome{WriteOutcome::Pending, 0, 0, 1000000}; };
    PendingWrite pending;
    std::uint32_t written = 0;
    EXPECT_FALSE(
        traced.WriteFile(port.m_hPort, reinterpret_cast<const std::uint8_t*>("\x1B@"), 2, written, pending));
    EXPECT_EQ(traced.PendingWrites(), 1u);
    port.Close();
    EXPECT_EQ(traced.PendingWrites(), 0u);
    EXPECT_EQ(Bodies().at(4), "COM1 -- write cancelled: 1B 40");
}

// A trace file whose every write changes the thread's last error, as file output may on Windows.
constexpr std::uint32_t kErrorOfTheTraceFile = 1784;
std::FILE* FileThatChangesLastError(FakeDeviceServices& os) {
    static const cookie_io_functions_t io{nullptr,
                                          [](void* services, const char*, std::size_t n) -> ssize_t {
                                              static_cast<FakeDeviceServices*>(services)->SetLastError(
                                                  kErrorOfTheTraceFile);
                                              return static_cast<ssize_t>(n);
                                          },
                                          nullptr, nullptr};
    return ::fopencookie(&os, "w", io);
}

TEST(TracingLastError, CallersFindTheErrorOfTheirCallNotTheTraceFiles) {
    FakeDeviceServices os;
    TraceSink sink(FileThatChangesLastError(os));
    sink.Line("COM1", "--", "a line");
    ASSERT_EQ(os.GetLastError(), kErrorOfTheTraceFile) << "the file must change it, or this proves nothing";
    TracingDeviceServices traced(os, sink);

    os.AddDevice("COM3").openError = kErrorSharingViolation;
    EXPECT_EQ(traced.CreateFile("COM3", ShareMode::Exclusive), kInvalidHandle);
    EXPECT_EQ(traced.GetLastError(), kErrorSharingViolation);
    EXPECT_FALSE(traced.CloseHandle(0x7777));
    EXPECT_EQ(traced.GetLastError(), kErrorInvalidHandle);

    FakeDevice& dev = os.AddDevice("COM1");
    const DeviceHandle h = traced.CreateFile("COM1", ShareMode::Exclusive);
    dev.failSetCommState = true;
    EXPECT_FALSE(traced.SetCommState(h, LineSettings{}));
    EXPECT_EQ(traced.GetLastError(), kErrorGenFailure);
    // A write that fails after one byte: the byte is traced, the error is the write's.
    dev.acceptScript = [](int, std::uint32_t) { return WriteOutcome{WriteOutcome::Fail, 1, 1117, 0}; };
    std::uint32_t written = 0;
    PendingWrite pending;
    const std::uint8_t bytes[] = {0x1B, 0x40};
    EXPECT_FALSE(traced.WriteFile(h, bytes, 2, written, pending));
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(traced.GetLastError(), 1117u);
}

TEST_F(Tracing, PortsOnThreadsOfTheirOwnShareOneFileLineByLine) {
    std::string error;
    auto sink = TraceSink::Open(path, error);
    auto work = [&](const std::string& name) {
        FakeDeviceServices os;
        os.AddDevice("LPT1");
        TracingDeviceServices traced(os, *sink, name);
        CPrinterPort port(traced);
        port.m_strPort = "LPT1";
        EXPECT_EQ(port.Open(), 1);
        for (int i = 0; i < 200; ++i) port.Write("\x1B\x3D\x01", 3);
    };
    std::thread a(work, "A"), b(work, "B");
    a.join();
    b.join();
    int perPort[2] = {0, 0};
    for (const std::string& body : Bodies()) {
        if (body == "A -> 1B 3D 01")
            ++perPort[0];
        else if (body == "B -> 1B 3D 01")
            ++perPort[1];
        else
            EXPECT_NE(body.find(" -- open LPT1"), std::string::npos) << body;
    }
    EXPECT_EQ(perPort[0], 200);
    EXPECT_EQ(perPort[1], 200);
}

TEST(Interruptible, SleepsKeepTheirLengthUntilStoppedThenEndAtOnce) {
    FakeDeviceServices os;
    std::atomic<bool> stop{false};
    InterruptibleDeviceServices cut(os, stop);
    const std::uint32_t t0 = os.Now();
    cut.Sleep(1000);
    cut.Sleep(7);
    EXPECT_EQ(os.Now() - t0, 1007u);
    stop = true;
    cut.Sleep(1000);
    EXPECT_EQ(os.Now() - t0, 1007u);
}

// A stop that comes while the printer is in user setting mode: the sequence does not wait out its second
// or read the mode notice, sends no change command, and still ends the mode.
TEST(Interruptible, AStopAfterEnteringUserSettingModeStillEndsIt) {
    FakeDeviceServices os;
    FakeDevice& dev = os.AddDevice("COM1");
    ScriptedPrinter printer(os, dev);
    AnswerAsLtx580(printer);
    std::atomic<bool> stop{false};
    printer.On(kSetupIn, [&](int) -> std::optional<Answer> {
        stop = true;
        return Answer{{0x37, 0x20, 0x00}, 5};
    });
    InterruptibleDeviceServices cut(os, stop);
    CPrinterPort port(cut);
    port.m_nBaudRate = 9600;
    ASSERT_EQ(port.Open(), 1);
    struct : SequenceView {
        void SetProgressPos(int) override {}
        void StepProgress() override {}
        void RefreshControls() override {}
        void SelectCodePage(int) override {}
        void Message(const std::string&, MessageKind) override {}
    } view;
    SwitchModel m;
    InitializeDefaults(m);
    const std::uint32_t t0 = os.Now();
    EXPECT_NE(WriteSwitches(port, m, view), SequenceResult::Ok);
    EXPECT_EQ(printer.commands, (std::vector<Bytes>{kSetupIn, kSetupOut, kEscSelect}));
    EXPECT_LT(os.Now() - t0, 100u);
}

} // namespace
