#include "protocol/switch_sequences.h"

#include "protocol/reply_frames.h"

#include <cstring>

namespace pw {

namespace {

constexpr int kPreCheckRetries = 100;
// A reply that never ends is read no further than this; what stands past the text bound is dropped.
constexpr std::size_t kMaxIdentityBytes = 256;

// The text of a USB identity reply: from the second byte to the first NUL.
std::string UsbText(const std::uint8_t* buf, int n) {
    std::string text;
    for (int i = 1; i < n && i < static_cast<int>(kReplyBufferSize) && buf[i] != 0; ++i)
        text += static_cast<char>(buf[i]);
    return text;
}

// One identity text by the interface's path. A printer that sends nothing gives an empty text.
// With framed replies the fixed wait is left out: the text is read as it comes, to its NUL.
std::string ReadText(CPrinterPort& port, int kind, std::uint32_t serialWait, SequenceView& view) {
    const bool framed = port.m_bFramedReplies;
    std::string text;
    if (ReadsWholeReplies(kind)) {
        std::uint8_t buf[kReplyBufferSize] = {};
        if (!framed) port.Services().Sleep(100);
        if (kind == kNetwork || framed) {
            ReadNetworkText(port, text);
            return text;
        }
        const int n = port.Read(buf, static_cast<int>(kReplyBufferSize));
        return n > 0 ? UsbText(buf, n) : text;
    }
    ReadIdentityText(port, text, framed ? 0 : serialWait, view);
    return text;
}

// The fixed pause before a reply is read; with framed replies the read itself waits for it.
void PauseBeforeReply(CPrinterPort& port, std::uint32_t ms) {
    if (!port.m_bFramedReplies) port.Services().Sleep(ms);
}

// An 11-byte switch reply: "7", "!", eight '0'/'1', NUL.
bool ValidSwitchBody(const std::uint8_t* body) { // from the "!" on: 10 bytes
    if (body[0] != '!' || body[9] != 0) return false;
    for (int i = 1; i <= 8; ++i)
        if (body[i] != '0' && body[i] != '1') return false;
    return true;
}

// Reads one switch reply and returns its ten bytes from the "!" on. On serial and parallel, `skipStray`
// skips what stands before the header; it steps once after the header.
SequenceResult ReadSwitchReply(CPrinterPort& port, int kind, bool skipStray, std::uint8_t (&body)[10],
                               SequenceView& view, bool stepAfterHeader) {
    std::uint8_t buf[kReplyBufferSize] = {};
    if (kind == kNetwork) {
        PauseBeforeReply(port, 100);
        switch (ReadNetworkSwitchReply(port, body)) {
        case SwitchFrame::NoHeader:
        case SwitchFrame::Cut:
            return SequenceResult::NoAnswer;
        case SwitchFrame::TooManyStrays:
            return SequenceResult::BadReply;
        case SwitchFrame::Whole:
            break;
        }
        return ValidSwitchBody(body) ? SequenceResult::Ok : SequenceResult::BadReply;
    }
    if (ReadsWholeReplies(kind)) {
        PauseBeforeReply(port, 100);
        // Framed: the eleven bytes as they come (a reply may come in pieces), and nothing past them.
        const int n = port.m_bFramedReplies ? ReadCount(port, buf, 11)
                                            : port.Read(buf, static_cast<int>(kReplyBufferSize));
        if (n <= 0) return SequenceResult::NoAnswer;
        if (n < 11) return SequenceResult::NoAnswer;
        if (buf[0] != '7' || !ValidSwitchBody(buf + 1)) return SequenceResult::BadReply;
        std::memcpy(body, buf + 1, 10);
        return SequenceResult::Ok;
    }
    PauseBeforeReply(port, 10);
    if (port.Read(buf, 1) != 1) return SequenceResult::NoAnswer;
    if (stepAfterHeader) view.StepProgress();
    if (skipStray) {
        for (int stray = 0; buf[0] != '7'; ++stray) {
            if (stray >= kMaxStrayBytes) return SequenceResult::BadReply;
            if (port.Read(buf, 1) != 1) return SequenceResult::NoAnswer;
        }
    } else if (buf[0] != '7') {
        return SequenceResult::BadReply;
    }
    // Framed on a parallel port, whose reads end with the first bytes: the body as it comes.
    if (ReadCount(port, buf, 10) != 10) return SequenceResult::NoAnswer;
    if (!ValidSwitchBody(buf)) return SequenceResult::BadReply;
    std::memcpy(body, buf, 10);
    return SequenceResult::Ok;
}

} // namespace

const char* SequenceFailureText(SequenceResult r) {
    switch (r) {
    case SequenceResult::BadReply:
        return kBadSwitchReply;
    case SequenceResult::NotWritten:
        return kSettingsNotWritten;
    default:
        return kPrinterDidNotAnswer;
    }
}

void ReadIdentityText(CPrinterPort& port, std::string& text, std::uint32_t initialWaitMs,
                      SequenceView& view) {
    port.Services().Sleep(initialWaitMs);
    for (std::size_t reads = 0; reads < kMaxIdentityBytes; ++reads) {
        std::uint8_t b = 0;
        // A read that yields nothing ends the text: the previous byte is never taken again.
        if (port.Read(&b, 1) != 1) return;
        if (b != '_' && b != 0 && text.size() < kMaxIdentityText) text += static_cast<char>(b);
        view.StepProgress();
        if (b == 0) return;
    }
}

int IdentifyPrinter(CPrinterPort& port, int kind, PrinterIdentity& identity, SequenceView& view) {
    if (!identity.firmware.empty()) return 1;

    if (SendQuery(port, CMD_QUERY_FIRMWARE) != CMD_QUERY_FIRMWARE.size()) return -1;
    identity.firmware.clear();
    PauseBeforeReply(port, 10);
    // Kept even when a check below fails; empty, it makes the next pre-check identify again.
    identity.firmware = ReadText(port, kind, 1000, view);

    if (SendQuery(port, CMD_QUERY_MAKER) != CMD_QUERY_MAKER.size()) return -1;
    PauseBeforeReply(port, 10);
    const std::string maker = ReadText(port, kind, 1000, view);
    if (identity.maker) *identity.maker = maker;
    if (maker != kExpectedMaker) {
        view.Message(maker, MessageKind::Warning);
        view.Message(kCompanyMismatch, MessageKind::Warning);
        return 0;
    }

    if (SendQuery(port, CMD_QUERY_MODEL_NAME) != CMD_QUERY_MODEL_NAME.size()) return -1;
    identity.model.clear();
    identity.model = ReadText(port, kind, 10, view);
    if (identity.model.find(kExpectedModelFamily) == std::string::npos) {
        view.Message(kPrinterMismatch, MessageKind::Warning);
        return 0;
    }
    view.RefreshControls();
    return 1;
}

int CheckPrinter(CPrinterPort& port, int kind, PrinterIdentity& identity, SequenceView& view) {
    std::uint8_t reply[kReplyBufferSize] = {};
    std::memcpy(reply, CMD_INIT.data(), CMD_INIT.size());
    auto fail = [&] {
        view.SetProgressPos(0);
        view.Message(kCantConnect, MessageKind::Information);
        return 0;
    };
    if (Send(port, CMD_INIT) != 0) {
        // A command that does not go out whole means the line is down: no reply can come.
        if (Send(port, CMD_SELECT_PRINTER) != CMD_SELECT_PRINTER.size()) return fail();
        const int identified = IdentifyPrinter(port, kind, identity, view);
        if (identified < 0) return fail();
        if (identified == 0) view.Message(kOtherCompanyProduct, MessageKind::Warning);
        if (Send(port, CMD_ASB_OFF) != CMD_ASB_OFF.size() ||
            SendQuery(port, CMD_QUERY_MODEL_ID) != CMD_QUERY_MODEL_ID.size())
            return fail();
        std::memset(reply, 0, sizeof reply);
        if (ReadsWholeReplies(kind)) {
            PauseBeforeReply(port, 100);
            // The "." alone: on a network link, or framed, nothing past it is read.
            ReadCount(port, reply,
                      kind == kNetwork || port.m_bFramedReplies ? 1 : static_cast<int>(kReplyBufferSize));
        } else {
            PauseBeforeReply(port, 10);
            port.Read(reply, 1);
        }
        if (reply[0] == '.') return 1;
    }
    // Each read waits up to the port's 5 s for a byte; one that brings nothing ends the retries, so a
    // silent printer is reported in seconds, not after a hundred such waits.
    for (int i = 0; i < kPreCheckRetries; ++i) {
        PauseBeforeReply(port, 10);
        if (port.Read(reply, 1) != 1) break;
        if (reply[0] == '.') return 1;
    }
    return fail();
}

SequenceResult ReadSwitches(CPrinterPort& port, int kind, SwitchModel& out, SequenceView& view,
                            std::string* switch1) {
    SwitchModel r = out;
    const bool usb = ReadsWholeReplies(kind);
    view.SetProgressPos(0);
    std::uint8_t body[10];
    auto fail = [&](SequenceResult why) {
        view.SetProgressPos(0);
        return why;
    };

    // A query that does not go out whole means the line is down: stop before waiting for its reply.
    if (SendQuery(port, CMD_QUERY_SW2) != CMD_QUERY_SW2.size()) return fail(SequenceResult::NoAnswer);
    if (auto res = ReadSwitchReply(port, kind, !usb, body, view, !usb); res != SequenceResult::Ok)
        return fail(res);
    for (int k = 1; k <= 8; ++k) {
        r.m_sw2[k - 1] = body[9 - k] - '0';
        view.StepProgress();
    }

    if (SendQuery(port, CMD_QUERY_SW9) != CMD_QUERY_SW9.size()) return fail(SequenceResult::NoAnswer);
    if (auto res = ReadSwitchReply(port, kind, false, body, view, false); res != SequenceResult::Ok)
        return fail(res);
    if (!usb) view.StepProgress();
    for (int k = 1; k <= 8; ++k) {
        r.m_sw9[k - 1] = body[9 - k] - '0';
        view.StepProgress();
    }

    if (SendQuery(port, CMD_QUERY_SW1) != CMD_QUERY_SW1.size()) return fail(SequenceResult::NoAnswer);
    if (auto res = ReadSwitchReply(port, kind, false, body, view, false); res != SequenceResult::Ok)
        return fail(res);
    const int autoFeed = body[4] - '0'; // pin 5, the fourth of the eight characters
    const std::string switch1Pins(body + 1, body + 9);
    for (int i = 0; i < (usb ? 8 : 1); ++i) view.StepProgress();

    DeriveSelections(r, autoFeed);
    view.SelectCodePage(r.m_nCodePageSel);
    for (int i = 0; i < 4; ++i) view.StepProgress(); // cutter, baud rate, parity, flow control

    if (Send(port, CMD_SELECT_PRINTER) != CMD_SELECT_PRINTER.size()) return fail(SequenceResult::NoAnswer);
    view.StepProgress();
    out = r;
    if (switch1) *switch1 = switch1Pins;
    return SequenceResult::Ok;
}

Cmd<15> BuildSwitch1Command(const SwitchModel& m) {
    std::array<bool, 8> on{};
    on[4] = m.m_nAutoFeedSel != 0;
    return FillChangeCommand(CMD_SET_SW1, on);
}

Cmd<15> BuildSwitch2Command(const SwitchModel& m) {
    std::array<bool, 8> on{};
    const int value = CodePageValueFromIndex(m.m_nCodePageSel);
    for (int pin = 4; pin <= 8; ++pin) on[static_cast<std::size_t>(pin - 1)] = (value >> (pin - 4)) & 1;
    on[2] = m.m_sw2[2] != 0;
    return FillChangeCommand(CMD_SET_SW2, on);
}

Cmd<15> BuildSwitch9Command(const SwitchModel& m) {
    std::array<bool, 8> on{};
    if (m.m_nBaudSel >= 0 && m.m_nBaudSel < kBaudRateCount) {
        const auto pins = BaudPinsFromIndex(m.m_nBaudSel);
        for (int i = 0; i < 3; ++i)
            on[static_cast<std::size_t>(5 + i)] = pins[static_cast<std::size_t>(i)] != 0;
    } else {
        // No baud rate chosen: keep the line speed the model holds rather than falling back to 9600.
        for (int pin = 6; pin <= 8; ++pin) on[static_cast<std::size_t>(pin - 1)] = m.m_sw9[pin - 1] != 0;
    }
    for (int pin = 2; pin <= 5; ++pin) on[static_cast<std::size_t>(pin - 1)] = m.m_sw9[pin - 1] != 0;
    return FillChangeCommand(CMD_SET_SW9, on);
}

SequenceResult WriteSwitches(CPrinterPort& port, const SwitchModel& m, SequenceView& view) {
    return WriteSwitches(port, {BuildSwitch1Command(m), BuildSwitch2Command(m), BuildSwitch9Command(m)},
                         view);
}

SequenceResult WriteSwitches(CPrinterPort& port, const std::array<Cmd<15>, 3>& changes, SequenceView& view,
                             WriteProgress* progress) {
    std::uint8_t reply[kReplyBufferSize] = {};
    WriteProgress local;
    WriteProgress& done = progress ? *progress : local;
    done = {};
    auto endMode = [&] {
        done.modeEnded = Send(port, CMD_SETUP_OUT) == CMD_SETUP_OUT.size();
        if (done.modeEnded) Send(port, CMD_SELECT_PRINTER);
    };
    auto fail = [&](SequenceResult why) {
        endMode();
        view.SetProgressPos(0);
        return why;
    };

    if (SendQuery(port, CMD_SETUP_IN) != CMD_SETUP_IN.size()) return fail(SequenceResult::NotWritten);
    PauseBeforeReply(port, 1000);
    // Not one byte of the mode notice: the printer is not in user setting mode. Nothing more is sent
    // before it has come; framed, it is waited for as long as the pause and the read would have taken.
    const int notice = port.m_bFramedReplies && port.m_nKind == kSerial
                           ? port.ReadWithin(reply, 3, 1000 + 5000)
                           : ReadCount(port, reply, 3);
    if (notice == 0) return fail(SequenceResult::NoAnswer);
    view.StepProgress();

    if (SendQuery(port, CMD_REALTIME_STATUS) != CMD_REALTIME_STATUS.size())
        return fail(SequenceResult::NotWritten);
    PauseBeforeReply(port, 100);
    ReadCount(port, reply, 1);
    view.StepProgress();

    for (const Cmd<15>& cmd : changes) {
        if (Send(port, cmd) != cmd.size()) return fail(SequenceResult::NotWritten);
        ++done.changesSent;
        view.StepProgress();
    }

    const bool ended = Send(port, CMD_SETUP_OUT) == CMD_SETUP_OUT.size();
    done.modeEnded = ended;
    const bool selected = ended && Send(port, CMD_SELECT_PRINTER) == CMD_SELECT_PRINTER.size();
    // The printer restarts: the dialogs give it two seconds; with framed replies the caller asks it when
    // it is back (WaitForRestart).
    for (int i = 0; i < 2; ++i) {
        view.StepProgress();
        PauseBeforeReply(port, 1000);
        view.StepProgress();
    }
    if (!ended || !selected) {
        view.SetProgressPos(0);
        return SequenceResult::NotWritten;
    }
    view.SetProgressPos(100);
    return SequenceResult::Ok;
}

} // namespace pw
