// One port's work over the scripted fake, with a stop landing at chosen points: what the port says it
// wrote must be what went to the printer.
#include "cli/port_job.h"
#include "link/device_services_decorator.h"
#include "link/interruptible_device_services.h"
#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace pw;
using namespace pw::cli;
using namespace pw::test;

namespace {

// Asks for a stop at a chosen moment: when the port is closed, or when a command goes out.
class StopWhen : public DeviceServicesDecorator {
  public:
    StopWhen(DeviceServices& inner, std::atomic<bool>& stop) : DeviceServicesDecorator(inner), m_stop(stop) {}
    bool CloseHandle(DeviceHandle h) override {
        if (onClose) m_stop = true;
        return Inner().CloseHandle(h);
    }
    bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                   PendingWrite& pending) override {
        const bool ok = Inner().WriteFile(h, data, length, written, pending);
        if (!onCommand.empty() && Bytes(data, data + length) == onCommand) m_stop = true;
        return ok;
    }
    bool onClose = false;
    Bytes onCommand;

  private:
    std::atomic<bool>& m_stop;
};

struct PortUnderTest {
    FakeDeviceServices os;
    std::atomic<bool> stop{false};
    StopWhen when{os, stop};
    InterruptibleDeviceServices top{when, stop};
    std::FILE* messages = std::tmpfile();
    MessageLog log{messages};
    std::unique_ptr<ScriptedPrinter> printer;

    PortUnderTest() {
        printer = std::make_unique<ScriptedPrinter>(os, os.AddDevice("tcp://10.0.0.7:9100"));
        AnswerAsLtx580(*printer);
    }
    ~PortUnderTest() { std::fclose(messages); }
    PortResult Set() {
        PortJob job;
        job.command = Command::Set;
        std::string error;
        job.changes.push_back(*ParseAssignment("code-page=PC858", error));
        return RunPort("tcp://10.0.0.7:9100", job, top, stop, log);
    }
};

TEST(CliPortJob, AStopAfterTheWriteSaysTheSettingsWereWrittenAndOneBeforeItThatNothingWas) {
    // The printer has restarted with the new settings and the read-back's new connection is next.
    PortUnderTest afterWrite;
    afterWrite.when.onClose = true;
    PortResult r = afterWrite.Set();
    EXPECT_TRUE(r.interrupted);
    EXPECT_EQ(r.error, "interrupted; the settings were written, but not read back");
    EXPECT_EQ(afterWrite.printer->Count(SwitchChange(2, "01001122")), 1) << "the change did go out";

    // The stop comes as user setting mode is entered: no change command goes out, the mode is ended.
    PortUnderTest inMode;
    inMode.when.onCommand = kSetupIn;
    r = inMode.Set();
    EXPECT_TRUE(r.interrupted);
    EXPECT_EQ(r.error, "interrupted; nothing was written; user setting mode was ended");
    EXPECT_EQ(inMode.printer->Count(SwitchChange(2, "01001122")), 0);
    EXPECT_EQ(inMode.printer->Count(kSetupOut), 1);
}

TEST(CliPortJob, AStopDuringUserSettingModeOnASerialLineLetsTheEndOfTheModeLeaveBeforeTheClose) {
    // Ctrl-C in the wait after DLE EOT 1: the remaining waits are cut, 57 bytes are queued at once and the
    // close comes at once; at 9600 8N1 they take 59.4 ms to leave the line.
    FakeDeviceServices os;
    FakeDevice& com1 = os.AddDevice("COM1");
    com1.sendsAtLineRate = true;
    ScriptedPrinter printer(os, com1);
    AnswerAsLtx580(printer);
    std::atomic<bool> stop{false};
    StopWhen when{os, stop};
    when.onCommand = kDleStatus;
    InterruptibleDeviceServices top{when, stop};
    std::FILE* messages = std::tmpfile();
    MessageLog log{messages};
    PortJob job;
    job.command = Command::Set;
    std::string error;
    job.changes.push_back(*ParseAssignment("code-page=PC858", error));
    const PortResult r = RunPort("COM1", job, top, stop, log);
    std::fclose(messages);

    EXPECT_TRUE(r.interrupted);
    EXPECT_FALSE(com1.held);
    EXPECT_TRUE(com1.discarded.empty())
        << com1.discarded.size() << " bytes were thrown away before they left";
    Bytes tail = kSetupOut;
    tail.insert(tail.end(), kEscSelect.begin(), kEscSelect.end());
    ASSERT_GE(com1.received.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), com1.received.end() - static_cast<long>(tail.size())))
        << "the end of user setting mode and the select reached the printer last";
}

} // namespace
