// Pre-check, identification, reading and writing the switches against scripted printers on the virtual clock.
#include "protocol/switch_sequences.h"

#include "dialogs/message_icon.h"
#include "link/usb_discovery.h"
#include "tests/support/recorders.h"
#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes &kInit = kEscInit, &kSelect = kEscSelect, &kAsbOff = kGsAsbOff, &kModelId = kGsModelId;
const Bytes &kFirmware = kGsFirmware, &kMaker = kGsMaker, &kModelName = kGsModelName, &kStatus = kDleStatus;
Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Query(int sw) {
    return SwitchQuery(sw);
}
Bytes Change(int sw, const std::string& pins) {
    return SwitchChange(sw, pins);
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes IdText(const std::string& t) {
    return IdentityReply(t);
}
Bytes SwitchReply(const std::string& pins) {
    return SwitchReplyBytes(pins);
}
std::string Pins(const Cmd<15>& c) {
    return std::string(c.begin() + 7, c.end());
}

// Records what a sequence does to the window.
struct ViewLog : SequenceView {
    int steps = 0, refreshes = 0, codePage = -2;
    std::vector<int> positions;
    void SetProgressPos(int pos) override { positions.push_back(pos); }
    void StepProgress() override { ++steps; }
    void RefreshControls() override { ++refreshes; }
    void SelectCodePage(int index) override { codePage = index; }
    void Message(const std::string& text, MessageKind kind) override {
        AfxMessageBox(text, MessageIcon(kind));
    }
};

class Sequences : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice* dev = nullptr;
    std::unique_ptr<ScriptedPrinter> printer;
    CPrinterPort port{os};
    int kind = kSerial;
    MessageRecorder messages;
    ViewLog view;
    std::string firmware, model;
    PrinterIdentity identity{firmware, model};

    void SetUp() override { Attach(kSerial); }
    void Attach(int k) {
        kind = k;
        std::FILE* quiet = std::tmpfile();
        SetDiscoveryOutput(quiet);
        if (k == kUsb) {
            dev = &AddUsbPrinter(os);
            port.m_strPort = "USB";
        } else if (k == kNetwork) {
            dev = &os.AddDevice("tcp://10.0.0.7:9100");
            port.m_strPort = "tcp://10.0.0.7:9100";
        } else {
            dev = &os.AddDevice("COM1");
            port.m_strPort = "COM1";
            port.m_nBaudRate = 115200;
        }
        printer = std::make_unique<ScriptedPrinter>(os, *dev);
        ASSERT_EQ(port.Open(), 1);
        SetDiscoveryOutput(nullptr);
        std::fclose(quiet);
    }
    // A printer that answers everything as an LTX-580 would.
    void Good(const std::string& sw2 = "00010100", const std::string& sw9 = "10000000",
              const std::string& sw1 = "00000000") {
        AnswerAsLtx580(*printer, sw2, sw9, sw1);
    }
};

// --- pre-check and identification --------------------------------------------------------------------

TEST_F(Sequences, PreCheckIdentifiesOnceAndSendsInOrder) {
    Good();
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(firmware, "2.10");
    EXPECT_EQ(model, "LTX-580");
    EXPECT_EQ(view.refreshes, 1);
    EXPECT_EQ(printer->commands,
              (std::vector<Bytes>{kInit, kSelect, kFirmware, kMaker, kModelName, kAsbOff, kModelId}));
    printer->commands.clear();
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(printer->commands, (std::vector<Bytes>{kInit, kSelect, kAsbOff, kModelId}))
        << "identification runs once per connection";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Sequences, DotOnTheHundredthRetryPasses) {
    firmware = "set";
    // The first read and 99 retries each take a byte that is not ".".
    printer->Always(kModelId, Cat(Bytes(100, 'x'), {'.'}));
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_TRUE(messages.shown.empty());
    printer->Always(kModelId, Cat(Bytes(101, 'x'), {'.'}));
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 0);
    EXPECT_EQ(messages.shown.back(),
              (ShownMessage{"Can't connect printer. Please restart printer.", MB_ICONINFORMATION, {}}));
}

TEST_F(Sequences, SilentPrinterFailsTheCheckWithinSeconds) {
    firmware = "set";
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 0);
    EXPECT_LE(os.Now() - t0, 10u + 5000u + 10u + 5000u);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Can't connect printer. Please restart printer."});
}

TEST_F(Sequences, InitOfZeroBytesSendsNothingMoreAndOnlyWaitsForTheDot) {
    dev->acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(0); };
    dev->ReplyAt(os.Now() + 50, {'.'});
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_TRUE(dev->received.empty());
    EXPECT_TRUE(firmware.empty());
}

TEST_F(Sequences, MakerInOtherCaseFailsWithTheMakerTextFirst) {
    Good();
    printer->Always(kMaker, IdText("meridox"));
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1) << "a mismatch only warns";
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"meridox", "This printer don't match our company name.",
                                        "Don't use this program for other company product."}));
    for (auto& m : messages.shown) EXPECT_EQ(m.type, MB_ICONEXCLAMATION);
    EXPECT_EQ(firmware, "2.10") << "kept: later pre-checks skip identification";
    EXPECT_TRUE(model.empty());
}

TEST_F(Sequences, EmptyMakerReplyShowsAnEmptyBoxThenTheCompanyMessage) {
    Good();
    printer->Always(kMaker, IdText(""));
    EXPECT_EQ(IdentifyPrinter(port, kind, identity, view), 0);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"", "This printer don't match our company name."}));
}

TEST_F(Sequences, ModelWithTextAroundTheFamilyPassesAndOtherModelsWarn) {
    Good();
    printer->Always(kModelName, IdText("XLTX-582B"));
    EXPECT_EQ(IdentifyPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(model, "XLTX-582B");
    firmware.clear();
    printer->Always(kModelName, IdText("LTX-59"));
    EXPECT_EQ(IdentifyPrinter(port, kind, identity, view), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"This printer don't match our printer name."});
}

TEST_F(Sequences, SerialIdentityStepsOncePerByteAndDropsUnderscores) {
    Good();
    printer->Always(kFirmware, IdText("V_1"));
    std::string text;
    Send(port, CMD_QUERY_MAKER);
    ReadIdentityText(port, text, 1000, view);
    EXPECT_EQ(text, "MERIDOX");
    EXPECT_EQ(view.steps, 9) << "header, seven letters, NUL";
    EXPECT_EQ(IdentifyPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(firmware, "V1");
}

TEST_F(Sequences, IdentityTextEndsAtASilentReadAndIsCutAtItsBound) {
    dev->ReplyAt(os.Now(), {0x5F, 'A', 'B'}); // no NUL: the printer stops mid-text
    std::string text;
    ReadIdentityText(port, text, 10, view);
    EXPECT_EQ(text, "AB") << "the last byte is not taken twice";
    // A text past the bound is cut there, and the rest of the reply is read away with its NUL.
    dev->ReplyAt(os.Now(), Cat(Cat({0x5F}, Bytes(100, 'Z')), {0x00, '.'}));
    text.clear();
    ReadIdentityText(port, text, 10, view);
    EXPECT_EQ(text, std::string(kMaxIdentityText, 'Z'));
    std::uint8_t next = 0;
    EXPECT_EQ(port.Read(&next, 1), 1);
    EXPECT_EQ(next, '.');
}

TEST_F(Sequences, SilentIdentityRepliesWarnAndTheSwitchesAreStillRead) {
    // A printer that answers the model-ID query but none of the identity queries.
    Good();
    printer->Always(kFirmware, {});
    printer->Always(kMaker, {});
    printer->Always(kModelName, {});
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"", kCompanyMismatch, kOtherCompanyProduct}));
    EXPECT_EQ(printer->commands, (std::vector<Bytes>{kInit, kSelect, kFirmware, kMaker, kAsbOff, kModelId}));
    EXPECT_TRUE(firmware.empty()) << "an empty firmware text: identified again at the next pre-check";
    SwitchModel m;
    EXPECT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok);
}

TEST_F(Sequences, FirmwareIsKeptAfterAMismatchAndTheModelIsEmptiedBeforeItsRead) {
    Good();
    model = "old";
    printer->Always(kModelName, {});
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(firmware, "2.10");
    EXPECT_EQ(model, "");
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{kPrinterMismatch, kOtherCompanyProduct}));
}

TEST_F(Sequences, APrinterThatIsGoneStillFailsThePreCheck) {
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 0);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"", kCompanyMismatch, kOtherCompanyProduct, kCantConnect}));
    EXPECT_LE(os.Now() - t0, 23000u) << "two identity reads, the model-ID read and one retry, 5 s each";
}

TEST_F(Sequences, UsbSilentIdentityIsAnEmptyText) {
    Attach(kUsb);
    Good();
    printer->Always(kMaker, {});
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"", kCompanyMismatch, kOtherCompanyProduct}));
    EXPECT_EQ(firmware, "2.10");
}

// The printer needs its time: the waits before each command, from the one before, on each interface. A
// network printer gets the USB line's commands and waits, its replies read whole.
TEST_F(Sequences, PreCheckAndReadWaitBeforeEachCommand) {
    for (int k : {kSerial, kUsb, kNetwork}) {
        Attach(k);
        Good();
        firmware.clear();
        ASSERT_EQ(CheckPrinter(port, kind, identity, view), 1);
        SwitchModel m;
        ASSERT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok);
        ASSERT_EQ(printer->commands,
                  (std::vector<Bytes>{kInit, kSelect, kFirmware, kMaker, kModelName, kAsbOff, kModelId,
                                      Query(2), Query(9), Query(1), kSelect}));
        std::vector<std::uint32_t> gaps;
        for (std::size_t i = 1; i < printer->times.size(); ++i)
            gaps.push_back(printer->times[i] - printer->times[i - 1]);
        const std::vector<std::uint32_t> expected =
            k != kSerial ? std::vector<std::uint32_t>{0, 0, 110, 110, 100, 0, 100, 100, 100, 100}
                         : std::vector<std::uint32_t>{0, 0, 1010, 1010, 10, 0, 10, 10, 10, 10};
        EXPECT_EQ(gaps, expected) << k;
        EXPECT_EQ(m.m_nCodePageSel, 2) << k;
    }
}

// A network printer behind a serial bridge: every reply comes a byte at a time, far slower than one read
// after the wait would take it.
TEST_F(Sequences, NetworkRepliesInPiecesAreReadWholeWithoutFalseWarnings) {
    Attach(kNetwork);
    Good("01000100", "10101100", "00010000");
    printer->trickleMs = 40;
    ASSERT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{}) << "no maker or model mismatch";
    EXPECT_EQ(firmware, "2.10");
    EXPECT_EQ(model, "LTX-580");
    SwitchModel m;
    std::string switch1;
    ASSERT_EQ(ReadSwitches(port, kind, m, view, &switch1), SequenceResult::Ok);
    EXPECT_EQ(m.m_nCodePageSel, 8);
    EXPECT_EQ(switch1, "00010000");
    SwitchModel defaults;
    InitializeDefaults(defaults);
    EXPECT_EQ(WriteSwitches(port, defaults, view), SequenceResult::Ok);
    EXPECT_EQ(printer->Count(kSetupOut), 1);
}

// What stands after a reply, and a reply that came after its read gave up, are never taken for the next.
TEST_F(Sequences, NetworkLeftoversAndLateRepliesAreNeverTakenForTheNextReply) {
    Attach(kNetwork);
    Good("01000100", "10101100", "00010000");
    printer->Always(Query(2), Concat(SwitchReplyBytes("01000100"), ToBytes("7!1111")));
    printer->Always(kMaker, Concat(IdentityReply("MERIDOX"), ToBytes("_X")));
    ASSERT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{});
    SwitchModel m;
    ASSERT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok);
    EXPECT_EQ(m.m_nBaudSel, 5) << "switch 9 read from its own reply";
    EXPECT_EQ(m.m_nParitySel, 2);

    // Switch 2's reply comes after the read's limit: the read says so, and the late bytes are thrown away
    // before the next query rather than read as its reply.
    int nth = 0;
    printer->On(Query(2), [&nth](int) {
        return std::optional<Answer>(
            Answer{SwitchReplyBytes(nth++ == 0 ? "11111111" : "00010100"), nth == 1 ? 6000u : 0u});
    });
    SwitchModel late = m;
    EXPECT_EQ(ReadSwitches(port, kind, late, view), SequenceResult::NoAnswer);
    os.Sleep(2000); // the late reply arrives
    ASSERT_EQ(ReadSwitches(port, kind, late, view), SequenceResult::Ok);
    EXPECT_EQ(late.m_nCodePageSel, 2) << "read from the second reply, not the late first one";
}

TEST_F(Sequences, SetStatusWaitsForTheModeNoticeAndTheStatusByte) {
    Good();
    SwitchModel m;
    InitializeDefaults(m);
    ASSERT_EQ(WriteSwitches(port, m, view), SequenceResult::Ok);
    ASSERT_EQ(printer->times.size(), 7u);
    EXPECT_EQ(printer->times[1] - printer->times[0], 1000u) << "the mode notice";
    EXPECT_EQ(printer->times[2] - printer->times[1], 100u) << "the status byte";
}

TEST_F(Sequences, EveryStrayByteButTheHeaderIsSkippedBeforeTheSwitchTwoReply) {
    Good("01000100");
    for (int v = 0; v < 256; ++v) {
        if (v == '7') continue;
        printer->Always(Query(2), Cat({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v)},
                                      SwitchReply("01000100")));
        SwitchModel m;
        ASSERT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok) << "stray byte " << v;
        EXPECT_EQ(m.m_nCodePageSel, 8) << "stray byte " << v;
    }
}

TEST_F(Sequences, UsbIdentityKeepsUnderscoresAndDoesNotStep) {
    Attach(kUsb);
    Good();
    printer->Always(kFirmware, IdText("V_1"));
    EXPECT_EQ(CheckPrinter(port, kind, identity, view), 1);
    EXPECT_EQ(firmware, "V_1");
    EXPECT_EQ(view.steps, 0);
}

// --- Get Status ------------------------------------------------------------------------------------------

TEST_F(Sequences, ReadSkipsStrayBytesBeforeTheSwitchTwoReply) {
    Good("01000100");
    printer->Always(Query(2), Cat({0xAA, 0x00, 0x21}, SwitchReply("01000100")));
    SwitchModel m;
    EXPECT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok);
    EXPECT_EQ(m.m_sw2[6], 1);
    EXPECT_EQ(m.m_sw2[2], 1);
    EXPECT_EQ(m.m_nCodePageSel, 8) << "PC852 (Latin 2)";
    EXPECT_EQ(m.m_nCutterSel, 1);
    EXPECT_EQ(view.codePage, 8);
    EXPECT_EQ(view.steps, 24);
    EXPECT_EQ(printer->commands.back(), kSelect);
}

TEST_F(Sequences, ReadOverUsbStepsTwentyNineTimes) {
    Attach(kUsb);
    Good("00010100", "11000000", "00010000");
    SwitchModel m;
    EXPECT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok);
    EXPECT_EQ(view.steps, 29);
    EXPECT_EQ(m.m_nCodePageSel, 2);
    EXPECT_EQ(m.m_nBaudSel, 6) << "pins 7 and 8: no entry";
    EXPECT_EQ(m.m_nAutoFeedSel, 1);
}

TEST_F(Sequences, DerivationCases) {
    struct Case {
        std::string sw9;
        int baud, parity, data, flow;
    } cases[] = {
        {"10100000", 5, 0, 1, 0}, // baud pins 6 and 8: no entry
        {"11000000", 6, 0, 1, 0}, {"11100000", 7, 0, 1, 0},
        {"00000100", 0, 0, 1, 0}, // pin 3 alone: parity None
        {"00001100", 0, 2, 1, 0}, // pins 3 and 4: Even
        {"00001000", 0, 1, 1, 0}, // pin 4 alone: Odd
        {"00000010", 0, 0, 0, 0}, // pin 2: 7 bits
        {"01110000", 3, 0, 1, 1}, // 57600, Xon/Xoff
    };
    for (const auto& c : cases) {
        Good("00000000", c.sw9, "11101111");
        SwitchModel m;
        ASSERT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::Ok) << c.sw9;
        EXPECT_EQ(m.m_nBaudSel, c.baud) << c.sw9;
        EXPECT_EQ(m.m_nParitySel, c.parity) << c.sw9;
        EXPECT_EQ(m.m_nDataBitsSel, c.data) << c.sw9;
        EXPECT_EQ(m.m_nFlowSel, c.flow) << c.sw9;
        EXPECT_EQ(m.m_nAutoFeedSel, 0) << "the fourth character alone counts";
    }
}

// On every interface: a reply that is not a switch reply, or that stops short of its NUL (by as little as
// that NUL), changes nothing.
TEST_F(Sequences, UnreadableRepliesLeaveTheModelAsItWas) {
    SwitchModel before;
    before.m_sw2[3] = 1;
    before.m_nBaudSel = 2;
    struct Case {
        const char* name;
        Bytes sw9reply;
        SequenceResult expected;
    } cases[] = {
        {"garbage", SwitchReply("10X0000?"), SequenceResult::BadReply},
        {"short", {'7', '!', '1', '0', '0'}, SequenceResult::NoAnswer},
        {"no NUL", Cat(Cat({'7', '!'}, ToBytes("10000000")), {'Z'}), SequenceResult::BadReply},
        {"one byte short", Cat({'7', '!'}, ToBytes("10000000")), SequenceResult::NoAnswer},
        {"wrong id", Cat(Cat({'7', '?'}, ToBytes("10000000")), {0}), SequenceResult::BadReply},
        {"silent", {}, SequenceResult::NoAnswer},
    };
    for (int k : {kSerial, kUsb, kNetwork}) {
        Attach(k);
        for (const auto& c : cases) {
            Good();
            printer->Always(Query(9), c.sw9reply);
            SwitchModel m = before;
            view.positions.clear();
            EXPECT_EQ(ReadSwitches(port, kind, m, view), c.expected) << c.name << " on " << k;
            EXPECT_EQ(m, before) << c.name << " on " << k;
            EXPECT_EQ(view.positions.back(), 0) << c.name << " on " << k;
            EXPECT_EQ(view.codePage, -2) << c.name << " on " << k;
            port.Services().PurgeComm(port.m_hPort, kPurgeAll);
        }
    }
}

// A printer that sends stray bytes without end: the skip ends at its bound as an unreadable reply, on a
// serial line and on the network alike, and switch 9 is never asked for.
TEST_F(Sequences, EndlessStrayBytesEndTheSkip) {
    for (int k : {kSerial, kNetwork}) {
        Attach(k);
        Good();
        printer->Always(Query(2), Bytes(500, 'x'));
        SwitchModel m;
        EXPECT_EQ(ReadSwitches(port, kind, m, view), SequenceResult::BadReply) << k;
        EXPECT_EQ(printer->Count(Query(9)), 0) << k;
    }
}

// --- Set Status ------------------------------------------------------------------------------------------

TEST_F(Sequences, ChangeCommandsFollowTheSelectionsAndPins) {
    SwitchModel m;
    m.m_nAutoFeedSel = 0;
    EXPECT_EQ(Pins(BuildSwitch1Command(m)), "22202222");
    m.m_nAutoFeedSel = 1;
    EXPECT_EQ(Pins(BuildSwitch1Command(m)), "22212222");
    m.m_nCodePageSel = 18;
    m.m_sw2[2] = 1;
    m.m_sw2[3] = 1; // stored code page pins do not count
    EXPECT_EQ(Pins(BuildSwitch2Command(m)), "11010122");
    m.m_nBaudSel = 4;
    m.m_sw9[4] = m.m_sw9[3] = m.m_sw9[2] = 1;
    m.m_sw9[5] = 1; // stored baud pins do not count when a baud rate is chosen
    EXPECT_EQ(Pins(BuildSwitch9Command(m)), "10011102");
    m.m_nCodePageSel = 10;
    EXPECT_EQ(Pins(BuildSwitch2Command(m)), "01011122") << "PC864 is value 11: pins 7, 5 and 4";
}

TEST_F(Sequences, NoBaudRateWritesTheBaudPinsTheModelHolds) {
    SwitchModel m;
    m.m_nBaudSel = -1;
    m.m_sw9[5] = 1, m.m_sw9[7] = 1; // pins 6 and 8
    EXPECT_EQ(Pins(BuildSwitch9Command(m)), "10100002");
    m.m_nBaudSel = 0;
    EXPECT_EQ(Pins(BuildSwitch9Command(m)), "00000002");
}

TEST_F(Sequences, WriteSendsEverythingInOrderWithTheWaits) {
    Good();
    SwitchModel m;
    InitializeDefaults(m);
    const std::uint32_t t0 = os.Now();
    EXPECT_EQ(WriteSwitches(port, m, view), SequenceResult::Ok);
    EXPECT_EQ(printer->commands,
              (std::vector<Bytes>{kSetupIn, kStatus, Change(1, "22202222"), Change(2, "00000022"),
                                  Change(9, "10000002"), kSetupOut, kSelect}));
    EXPECT_EQ(view.steps, 9);
    EXPECT_EQ(view.positions.back(), 100);
    EXPECT_EQ(os.Now() - t0, 1000u + 100u + 2000u);
    EXPECT_EQ(printer->times[2] - printer->times[0], 1100u);
}

TEST_F(Sequences, ShortWriteReportsFailureAndStillEndsSettingMode) {
    Good();
    dev->acceptScript = [&](int, std::uint32_t n) {
        // Switch 2's change command never goes out whole.
        return n == 15 && printer->Count(Change(1, "22202222")) == 1 && dev->received.size() > 20
                   ? WriteOutcome::All(0)
                   : WriteOutcome::All(n);
    };
    SwitchModel m;
    InitializeDefaults(m);
    EXPECT_EQ(WriteSwitches(port, m, view), SequenceResult::NotWritten);
    EXPECT_EQ(printer->Count(kSetupOut), 1);
    EXPECT_EQ(printer->Count(Change(9, "10000002")), 0);
    EXPECT_EQ(view.positions.back(), 0);
}

TEST_F(Sequences, NoModeNoticeMeansNoChangeCommand) {
    Good();
    printer->On(kSetupIn, [](int) { return std::optional<Answer>(); });
    SwitchModel m;
    InitializeDefaults(m);
    EXPECT_EQ(WriteSwitches(port, m, view), SequenceResult::NoAnswer);
    EXPECT_EQ(printer->commands, (std::vector<Bytes>{kSetupIn, kSetupOut, kSelect}));
}

} // namespace
