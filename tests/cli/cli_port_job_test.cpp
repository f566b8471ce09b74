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
        // The change command for switch 9 (GS ( E, fn 3, switch 9) never goes out: the line fails there.
        if (failSwitch9Change && length == 15 && data[5] == 3 && data[6] == 9) {
            written = 0;
            Inner().SetLastError(kErrorFileNotFound);
            return false;
        }
        const bool ok = Inner().WriteFile(h, data, length, written, pending);
        if (!onCommand.empty() && Bytes(data, data + length) == onCommand) m_stop = true;
        return ok;
    }
    bool onClose = false;
    Bytes onCommand;
    bool failSwitch9Change = false;

  private:
    std::atomic<bool>& m_stop;
};

// A network printer whose network side is gone for `downMs` after the restart that ends a write: the
// connections tried meanwhile are refused. With `stopAtRefusal`, a stop is asked for at that refusal.
class BackAfter : public DeviceServicesDecorator {
  public:
    BackAfter(FakeDeviceServices& os, std::atomic<bool>& stop)
        : DeviceServicesDecorator(os), m_os(os), m_stop(stop) {}
    DeviceHandle CreateFile(const std::string& name, ShareMode share) override {
        if (m_written && m_os.Elapsed() < m_backAt) {
            if (++refused == stopAtRefusal) m_stop = true;
            Inner().SetLastError(kErrorFileNotFound);
            return kInvalidHandle;
        }
        return Inner().CreateFile(name, share);
    }
    bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                   PendingWrite& pending) override {
        if (!m_written && Bytes(data, data + length) == kSetupOut) {
            m_written = true;
            m_backAt = m_os.Elapsed() + 2000 + downMs; // the printer's restart, then its network side
        }
        return Inner().WriteFile(h, data, length, written, pending);
    }
    std::uint32_t downMs = 0;
    int refused = 0;
    int stopAtRefusal = 0;

  private:
    FakeDeviceServices& m_os;
    std::atomic<bool>& m_stop;
    bool m_written = false;
    std::uint32_t m_backAt = 0;
};

struct PortUnderTest {
    FakeDeviceServices os;
    std::atomic<bool> stop{false};
    BackAfter gone{os, stop};
    StopWhen when{gone, stop};
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

// A write that fails after some change commands went out says so: not "nothing", not "written".
TEST(CliPortJob, AWriteCutShortAfterTwoChangeCommandsSaysThePrinterMayHoldSomeOfThem) {
    PortUnderTest cut;
    cut.when.failSwitch9Change = true;
    const PortResult r = cut.Set();
    EXPECT_EQ(r.exit, kExitNoAnswer);
    EXPECT_EQ(r.written, Written::Partly);
    EXPECT_EQ(r.error, "the write was cut short: 2 of the 3 change commands went out; user setting mode was "
                       "ended. The printer may hold some of the new settings: read it again.");
    EXPECT_EQ(cut.printer->Count(SwitchChange(2, "01001122")), 1);
    EXPECT_EQ(cut.printer->Count(kSetupOut), 1);
}

// The read-back's connection is tried again, within a bound, while the printer brings its network side
// back; a failure after the write says that the settings were written.
TEST(CliPortJob, TheNetworkReadBackConnectsAgainForUpToTenSecondsAndSaysTheSettingsWereWritten) {
    PortUnderTest slow;
    slow.gone.downMs = 4000;
    // Switch 2 as read before the write, and after it with the new code page.
    slow.printer->On(SwitchQuery(2), [](int nth) {
        return std::optional<Answer>(Answer{SwitchReplyBytes(nth == 0 ? "00010100" : "01001100")});
    });
    PortResult r = slow.Set();
    EXPECT_EQ(r.exit, kExitOk) << r.error;
    EXPECT_EQ(r.written, Written::Yes);
    EXPECT_GE(slow.gone.refused, 7) << "4 s of refusals from the end of the write, tried every half second";
    EXPECT_LE(slow.gone.refused, 12);

    PortUnderTest gone;
    gone.gone.downMs = 60000;
    r = gone.Set();
    EXPECT_EQ(r.exit, kExitCannotOpen);
    EXPECT_EQ(r.written, Written::Yes);
    EXPECT_EQ(r.error.rfind("the settings were written; reading them back failed: Can't open port", 0), 0u)
        << r.error;
    EXPECT_GE(gone.gone.refused, 18) << "tried for 10 s";
    EXPECT_LE(gone.gone.refused, 22) << "and no longer";

    // A stop while the printer is away ends the tries at once.
    PortUnderTest stopped;
    stopped.gone.downMs = 60000;
    stopped.gone.stopAtRefusal = 3;
    r = stopped.Set();
    EXPECT_TRUE(r.interrupted);
    EXPECT_EQ(r.error, "interrupted; the settings were written, but not read back");
    EXPECT_EQ(r.written, Written::Yes);
    EXPECT_EQ(stopped.gone.refused, 3);
}

} // namespace
