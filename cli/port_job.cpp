#include "cli/port_job.h"

#include <algorithm>

#include "cli/backup.h"
#include "cli/outside_text.h"
#include "cli/platform.h"
#include "link/interruptible_device_services.h"
#include "link/printer_port.h"
#include "protocol/commands.h"
#include "protocol/connection_check.h"
#include "protocol/line_finder.h"
#include "protocol/printer_probe.h"
#include "protocol/restart_wait.h"
#include "protocol/switch_sequences.h"
#include "settings/status_file.h"

namespace pw::cli {

void MessageLog::Put(const std::string& line) {
    std::lock_guard lock(m_mutex);
    if (m_sink)
        m_sink(line);
    else
        WriteOutput(m_out, line + "\n");
}

void MessageLog::Line(const std::string& port, const std::string& text) {
    Put(ForTerminal(port) + ": " + ForTerminal(text));
}

void MessageLog::Line(const std::string& text) {
    Put(ForTerminal(text));
}

std::size_t DescriptorsBesidePorts() {
    constexpr std::size_t kOnTheWay = 8;
    return DescriptorsInUse() + kOnTheWay;
}

bool OpenTrace(const std::string& path, std::FILE* err, std::unique_ptr<TraceSink>& trace) {
    if (path.empty()) return true;
    std::string error;
    trace = TraceSink::Open(path, error);
    if (trace) return true;
    WriteOutput(err, "pinwright-cli: " + ForTerminal(error) + "\n");
    return false;
}

namespace {

constexpr const char* kCantOpen = "Can't open port and Printer is disconnected";
constexpr const char* kWrittenNotReadBack = "the settings were written, but not read back";
constexpr const char* kReadBackFailed = "the settings were written; reading them back failed: ";
constexpr const char* kNotBack = "the settings were written, but the printer did not come back to be read: ";
// A printer's network side can take seconds to come back after the restart that a write ends in: the
// read-back's connection is tried again, a pause between tries, until this long after the first.
constexpr std::uint32_t kReconnectMs = 10000;
constexpr std::uint32_t kReconnectPauseMs = 500;

// The sequences' view: no progress bar and no controls; messages go to standard error. Once stopped, the
// failures of cut-short reads are not the printer's and are not shown.
class CliView : public SequenceView {
  public:
    CliView(const std::string& port, MessageLog& log, const std::atomic<bool>& stop)
        : m_port(port), m_log(log), m_stop(stop) {}
    void SetProgressPos(int) override {}
    void StepProgress() override {}
    void RefreshControls() override {}
    void SelectCodePage(int) override {}
    void Message(const std::string& text, MessageKind) override {
        last = text;
        if (!m_stop.load()) m_log.Line(m_port, text);
    }
    std::string last;

  private:
    std::string m_port;
    MessageLog& m_log;
    const std::atomic<bool>& m_stop;
};

class PortRun {
  public:
    PortRun(const std::string& name, const PortJob& job, DeviceServices& services,
            const std::atomic<bool>& stop, MessageLog& log)
        : m_job(job), m_printer(services), m_stop(stop), m_log(log), m_view(name, log, stop),
          m_line(job.line) {
        r.port = name;
        m_printer.m_bFramedReplies = true;
        m_printer.m_onProblem = [this](const std::string& text, const std::string& detail) {
            if (!m_stop.load()) m_log.Line(r.port, detail.empty() ? text : text + " (" + detail + ")");
        };
    }

    PortResult Run() {
        if (Open("nothing was sent")) {
            switch (m_job.command) {
            case Command::Check:
                Handshake();
                break;
            case Command::SelfTest:
                SelfTest();
                break;
            case Command::Get:
                Get();
                break;
            case Command::Set:
                Set();
                break;
            case Command::Apply:
                Apply();
                break;
            case Command::Status:
                Status();
                break;
            case Command::Show:
            case Command::Ports:
            case Command::Discover:
            case Command::Doctor:
                break;
            }
        }
        m_printer.Close(); // lets the last commands leave the line first
        return r;
    }

  private:
    // After a write the failure says that the settings were written before what failed.
    bool Fail(int code, const std::string& text, bool shown = false) {
        r.exit = code;
        r.error = m_failPrefix + text;
        if (!shown) m_log.Line(r.port, r.error);
        return false;
    }

    // True when a stop was asked for: the port ends here, saying how far it got.
    bool Stopped(const std::string& how) {
        if (!m_stop.load()) return false;
        r.interrupted = true;
        m_failPrefix.clear();
        const bool timedOut = m_job.timedOut && m_job.timedOut->load();
        Fail(kExitInterrupted,
             (timedOut ? "stopped: the --timeout of " + std::to_string(m_job.timeout) + " s passed; "
                       : std::string("interrupted; ")) +
                 how);
        return true;
    }

    // `ifStopped` says what was written when a stop came first. A serial port with --baud auto first
    // finds the line its printer answers at.
    bool Open(const char* ifStopped) {
        if (Stopped(ifStopped)) return false;
        if (!TryOpen()) {
            if (Stopped(ifStopped)) return false; // a connection given up on a stop
            return CannotOpen();
        }
        if (m_printer.m_nKind != kSerial) return true;
        if (m_line.autoBaud && !FindTheLine(ifStopped)) return false;
        r.serial = true;
        r.line = m_line;
        return true;
    }

    bool FindTheLine(const char* ifStopped) {
        // Status sends nothing but its queries: no ESC @ after the search either.
        const LineSearch s = FindLine(
            m_printer, LineCandidates(), [this] { return m_stop.load(); }, m_job.command != Command::Status);
        if (Stopped(s.tried.empty() ? std::string(ifStopped)
                                    : "only status queries (DLE EOT) went out while the line was sought; "
                                      "nothing was changed"))
            return false;
        if (s.lineDown)
            return Fail(kExitNoAnswer,
                        "The line takes no bytes (is the printer on and its cable in?); nothing "
                        "was changed.");
        if (!s.found) {
            std::vector<std::string> tried;
            for (const SerialLine& l : s.tried)
                if (std::find(tried.begin(), tried.end(), SerialLineText(l)) == tried.end())
                    tried.push_back(SerialLineText(l));
            std::string list;
            for (const std::string& t : tried) list += (list.empty() ? "" : ", ") + t;
            return Fail(kExitNoAnswer,
                        "The printer answered at no line setting; nothing was changed. Tried " +
                            std::to_string(tried.size()) + ": " + list + ".");
        }
        m_line = LineOptions{s.line.baud, s.line.dataBits, s.line.parity, s.line.stopBits, false};
        m_searched = true;
        return m_job.command == Command::Status || SettleTheFrame(s.line, ifStopped);
    }

    // Status queries read alike at several frames of the rate (a 7E1 printer's status byte reaches an 8N1
    // port unchanged), but its texts would not. For a command that asks more than status, the frame is
    // the one at which switch 9 comes back clean and names that very line: the frame found first (where
    // the probes read clean, mostly the printer's own), then the others of the rate in the search's order,
    // the 8-bit ones first: a 7-bit printer reads an 8-bit query as it is, an 8-bit printer would read a
    // 7-bit one as other bytes, and it answers at its own frame before that.
    bool SettleTheFrame(const SerialLine& found, const char* ifStopped) {
        std::vector<SerialLine> frames = {found};
        for (const SerialLine& l : LineCandidates())
            if (l.baud == found.baud && !(l == found)) frames.push_back(l);
        for (const SerialLine& f : frames) {
            if (Stopped(ifStopped)) return false;
            m_printer.m_nBaudRate = f.baud;
            m_printer.m_nByteSize = f.dataBits;
            m_printer.m_nParity = f.parity;
            m_printer.m_nStopBits = f.stopBits;
            std::string pins;
            if (!m_printer.ApplyLine() || !ReadSwitch9AtThisLine(m_printer, pins)) continue;
            const LineOptions at{f.baud, f.dataBits, f.parity, f.stopBits, false};
            SwitchPins read;
            read.sw9 = pins;
            if (!(LineAfterWrite(read, at) == at)) continue; // the check after the read moves it there
            if (!(f == found) && Send(m_printer, CMD_INIT) != CMD_INIT.size()) break;
            m_line = at;
            return true;
        }
        // No frame reads clean: go on at the line found; the read after it says what is wrong.
        m_printer.m_nByteSize = found.dataBits;
        m_printer.m_nParity = found.parity;
        return m_printer.ApplyLine() || CannotOpen();
    }

    // After a search, with the switches read: the line found must be the one switch 9 holds. A printer
    // at another frame of the same rate may answer a probe (a UART that takes characters with a parity
    // error, a reply whose parity bit reads as a stop bit), so its switch 9 says where it is: that line
    // is taken once the printer answers there and its switches read the same.
    bool LineAgreesWithSwitch9(const char* ifStopped) {
        if (!m_searched) return true;
        const LineOptions held = LineAfterWrite(r.pins, m_line);
        if (held == m_line) return true;
        const std::string found = LineText(m_line);
        m_log.Line(r.port, "the printer answered at " + found + ", but its switch 9 holds " + LineText(held) +
                               "; trying that line");
        m_searched = false;
        m_printer.Close();
        m_line = held;
        r.line = held;
        if (Stopped(ifStopped)) return false;
        if (!TryOpen()) return CannotOpen();
        const SerialLine there{held.baud, held.dataBits, held.parity, held.stopBits};
        const LineSearch s = FindLine(m_printer, {there}, [this] { return m_stop.load(); });
        if (Stopped(ifStopped)) return false;
        if (!s.found)
            return Fail(kExitNoAnswer, "The printer answered at " + found + ", but not at " + LineText(held) +
                                           ", the line its switch 9 holds; nothing was changed.");
        if (!PreCheck(ifStopped) || !Read(ifStopped)) return false;
        if (LineAfterWrite(r.pins, m_line) == m_line) return true;
        return Fail(kExitNoAnswer, "The printer's switch 9 reads " +
                                       LineText(LineAfterWrite(r.pins, m_line)) + " at " + LineText(held) +
                                       " and " + LineText(held) + " at " + found +
                                       ": no line can be trusted; nothing was changed.");
    }

    // The settings as read, as a status file holds them: a baud rate or code page without an item is none
    // (the pins beside it keep the value), so that apply of the file writes those pins back as they were.
    SwitchModel ModelToSave() const {
        SwitchModel save = r.state;
        if (save.m_nBaudSel < 0 || save.m_nBaudSel >= kBaudRateCount) save.m_nBaudSel = -1;
        if (!PinsValue(*FindSettingKey("code-page"), r.pins)) save.m_nCodePageSel = -1;
        return save;
    }

    // The settings as read, saved before the first byte of a write; a backup that cannot be kept stops
    // the port before anything is sent to change it.
    bool Backup() {
        if (m_job.backup.empty()) return true;
        std::string error;
        r.backup = WriteBackup(m_job.backup, r.port, ModelToSave(), std::time(nullptr), error);
        if (!r.backup.empty()) return true;
        return Fail(kExitUsage, error + " Nothing was sent to change the printer.");
    }

    bool TryOpen() {
        m_printer.m_nBaudRate = m_line.baud;
        m_printer.m_nByteSize = m_line.dataBits;
        m_printer.m_nParity = m_line.parity;
        m_printer.m_nStopBits = m_line.stopBits;
        int ok = 0;
        if (IsDevicePath(r.port)) {
            ok = m_printer.OpenDeviceFile(r.port, DeviceFileKind(r.port));
        } else {
            m_printer.m_strPort = r.port;
            ok = m_printer.Open();
        }
        return ok != 0;
    }

    // The line on standard error also says where to find out why; the result's error is the dialogs'.
    bool CannotOpen() {
        const std::string detail = m_printer.Services().LastOpenProblem();
        Fail(kExitCannotOpen, detail.empty() ? kCantOpen : std::string(kCantOpen) + " (" + detail + ")",
             true);
        const bool plain = r.port.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                    "0123456789/._-:[]") == std::string::npos;
        m_log.Line(r.port, r.error + ". To see what stands in the way: pinwright-cli doctor -p " +
                               (plain ? r.port : "'" + r.port + "'"));
        return false;
    }

    bool Handshake() {
        if (Stopped("nothing was sent")) return false;
        const HandshakeResult h = RunConnectionHandshake(m_printer, m_printer.m_nKind);
        if (Stopped("nothing was written")) return false;
        switch (h) {
        case HandshakeResult::Connected:
            return true;
        case HandshakeResult::PortError:
            return Fail(kExitNoAnswer, "Port error! Check printer's port, please.");
        case HandshakeResult::ReadError:
            return Fail(kExitNoAnswer, "Read Error");
        case HandshakeResult::NoAnswer:
            break;
        }
        return Fail(kExitNoAnswer, kCantConnect);
    }

    // DLE EOT 1 to 4 only: no identification, no ESC @, nothing that changes what the printer does.
    void Status() {
        if (Stopped("nothing was sent")) return;
        const StatusReading reading = ReadPrinterStatus(m_printer);
        if (Stopped("the status was not read")) return;
        if (reading.result != StatusRead::Ok) {
            Fail(kExitNoAnswer, StatusReadProblem(reading) + ".");
            return;
        }
        r.haveStatus = true;
        r.status = reading.status;
        if (m_job.identity && r.status.online && !Stopped("the identity was not read")) {
            PrinterProbe texts;
            AskIdentity(m_printer, texts);
            r.firmware = texts.firmware.value_or("");
            r.maker = texts.maker.value_or("");
            r.model = texts.model.value_or("");
            r.haveIdentity = texts.firmware || texts.maker || texts.model;
        }
        if (r.status.NeedsAttention())
            Fail(kExitNeedsAttention, "needs attention: " + AttentionText(r.status));
    }

    void SelfTest() {
        if (!Handshake()) return;
        if (Stopped("nothing was printed")) return;
        const bool sent = m_job.selfTest == 1 ? Send(m_printer, CMD_SELF_TEST_1) == CMD_SELF_TEST_1.size()
                                              : Send(m_printer, CMD_SELF_TEST_2) == CMD_SELF_TEST_2.size();
        if (!sent) Fail(kExitNoAnswer, "The self test command did not go out whole.");
    }

    // The pre-check with the identification (once per connection), as before Get Status and Set Status.
    bool PreCheck(const char* ifStopped) {
        if (Stopped(ifStopped)) return false;
        PrinterIdentity identity{r.firmware, r.model, &r.maker};
        const int ok = CheckPrinter(m_printer, m_printer.m_nKind, identity, m_view);
        if (Stopped(ifStopped)) return false;
        // Its message is shown already, unless it now needs to say that the settings were written.
        return ok ? true : Fail(kExitNoAnswer, m_view.last, m_failPrefix.empty());
    }

    bool Read(const char* ifStopped) {
        if (Stopped(ifStopped)) return false;
        SwitchModel read = r.state;
        std::string switch1;
        const SequenceResult res = ReadSwitches(m_printer, m_printer.m_nKind, read, m_view, &switch1);
        if (Stopped(ifStopped)) return false;
        if (res != SequenceResult::Ok) {
            // The sequences' own texts say that nothing was changed: after a write, say what failed only.
            if (m_failPrefix.empty()) return Fail(kExitNoAnswer, SequenceFailureText(res));
            return Fail(kExitNoAnswer, res == SequenceResult::BadReply
                                           ? "the printer sent an unreadable memory switch reply"
                                           : "the printer did not answer");
        }
        r.state = read;
        r.pins = PinsRead(read, switch1);
        r.haveState = true;
        return true;
    }

    bool ReadAtTheRightLine() {
        return PreCheck("nothing was written") && Read("nothing was written") &&
               LineAgreesWithSwitch9("nothing was written");
    }

    void Get() {
        if (!ReadAtTheRightLine()) return;
        if (m_job.output.empty()) return;
        std::string error;
        if (!SaveStatusFile(m_job.output, ModelToSave(), error)) Fail(kExitUsage, error);
    }

    // Only the named settings' pins change; every other pin is written as it was read.
    void Set() {
        if (!ReadAtTheRightLine()) return;
        WriteIfNeeded(PinsOnRead(r.pins, PinsOfAssignments(m_job.changes, r.state)));
    }

    // As Load Status and Set Status, with a Get Status first so that the file is compared too.
    void Apply() {
        if (!ReadAtTheRightLine()) return;
        WriteIfNeeded(PinsOnRead(r.pins, PinsOfFile(m_job.loaded)));
    }

    // Compares the pins to write with what was just read, by the read-back's own rule; enters user setting
    // mode only when a pin differs (or when forced), and never with --check.
    void WriteIfNeeded(const SwitchPins& pins) {
        r.compared = true;
        r.checkOnly = m_job.check;
        r.before = r.pins;
        r.after = pins;
        r.changes = SettingsNotTaken(pins, r.pins);
        const bool write = !r.changes.empty() || m_job.force;
        if (m_job.check || !write) {
            r.changed = write;
            return;
        }
        if (!Backup() || !PreCheck("nothing was written")) return;
        if (Write(pins)) ReadBack(pins);
    }

    static Cmd<15> ChangeCommand(const Cmd<15>& tmpl, const std::string& pins) {
        Cmd<15> cmd = tmpl;
        for (std::size_t i = 0; i < 8; ++i) cmd[7 + i] = static_cast<std::uint8_t>(pins[i]);
        return cmd;
    }

    // True when every change command and the end of user setting mode went out: the read-back follows.
    bool Write(const SwitchPins& pins) {
        if (Stopped("nothing was written")) return false;
        r.haveState = false; // what was read before no longer stands
        r.changed = true;    // from here on the printer may hold something new
        WriteProgress sent;
        const SequenceResult res =
            WriteSwitches(m_printer,
                          {ChangeCommand(CMD_SET_SW1, pins.sw1), ChangeCommand(CMD_SET_SW2, pins.sw2),
                           ChangeCommand(CMD_SET_SW9, pins.sw9)},
                          m_view, &sent);
        r.written = sent.changesSent == 0                     ? Written::No
                    : sent.changesSent == 3 && sent.modeEnded ? Written::Yes
                                                              : Written::Partly;
        // Written, even when the select after it did not go out: the read-back tells what the printer holds.
        if (r.written == Written::Yes) return !Stopped(kWrittenNotReadBack);
        const std::string mode =
            sent.modeEnded ? "user setting mode was ended" : "user setting mode could not be ended";
        if (r.written == Written::No) {
            if (Stopped("nothing was written; " + mode)) return false;
            return Fail(kExitNoAnswer, SequenceFailureText(res));
        }
        if (Stopped("not every setting may have been written; " + mode)) return false;
        const std::string how = sent.changesSent == 3
                                    ? "every change command went out, but not the end of user setting mode"
                                    : std::to_string(sent.changesSent) + " of the 3 change commands went out";
        return Fail(kExitNoAnswer, "the write was cut short: " + how + "; " + mode +
                                       ". The printer may hold some of the new settings: read it again.");
    }

    // The read-back's new connection, tried again for a while when the printer is not back yet.
    bool Reconnect() {
        DeviceServices& os = m_printer.Services();
        const std::uint32_t start = os.GetTickCount();
        while (!TryOpen()) {
            if (Stopped(kWrittenNotReadBack)) return false;
            if (os.GetTickCount() - start >= kReconnectMs) return CannotOpen();
            os.Sleep(kReconnectPauseMs);
        }
        return true;
    }

    // The printer restarts after user setting mode: it is asked (DLE EOT 1) until it answers. One that
    // never answers that query is read back all the same: the read-back says whether it is there.
    bool PrinterBack() {
        if (WaitForRestart(m_printer, kRestartLimitMs, [this] { return m_stop.load(); })) return true;
        if (Stopped(kWrittenNotReadBack)) return false;
        m_log.Line(r.port, "no answer to DLE EOT 1 within " + std::to_string(kRestartLimitMs / 1000) +
                               " s of the end of user setting mode; reading back all the same");
        m_failPrefix = kNotBack;
        return true;
    }

    // Once the printer is back from its restart: read the switches again, on a serial line at the line
    // settings just written, on the network over a new connection (many printers drop theirs when they
    // restart), and compare every written pin.
    void ReadBack(const SwitchPins& pins) {
        m_failPrefix = kReadBackFailed;
        if (m_printer.m_nKind == kNetwork) {
            m_printer.Close();
            if (Stopped(kWrittenNotReadBack) || !Reconnect()) return;
        }
        if (m_printer.m_nKind == kSerial) {
            const LineOptions after = LineAfterWrite(pins, m_line);
            if (!(after == m_line)) {
                m_line = after;
                r.line = after;
                m_log.Line(r.port, "reading back at " + LineText(m_line));
                m_printer.m_nBaudRate = m_line.baud;
                m_printer.m_nByteSize = m_line.dataBits;
                m_printer.m_nParity = m_line.parity;
                m_printer.m_nStopBits = m_line.stopBits;
                if (Stopped(kWrittenNotReadBack)) return;
                if (!m_printer.ChangeLine()) {
                    Fail(kExitNoAnswer, "the port took no line settings of " + LineText(m_line));
                    return;
                }
            }
        }
        if (!PrinterBack() || !PreCheck(kWrittenNotReadBack)) return;
        if (!Read(kWrittenNotReadBack)) return;
        m_failPrefix.clear();
        r.notTaken = SettingsNotTaken(pins, r.pins);
        if (r.notTaken.empty()) return;
        std::string names;
        for (const std::string& k : r.notTaken) names += (names.empty() ? "" : ", ") + k;
        Fail(kExitNotTaken, "the printer did not take " + names);
    }

    const PortJob& m_job;
    CPrinterPort m_printer;
    const std::atomic<bool>& m_stop;
    MessageLog& m_log;
    CliView m_view;
    LineOptions m_line;
    bool m_searched = false;  // m_line was found by --baud auto, not given
    std::string m_failPrefix; // what every failure of the read-back starts with
    PortResult r;
};

} // namespace

PortResult RunPort(const std::string& port, const PortJob& job, DeviceServices& services,
                   const std::atomic<bool>& stop, MessageLog& log) {
    return PortRun(port, job, services, stop, log).Run();
}

} // namespace pw::cli
