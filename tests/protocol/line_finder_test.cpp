// Finding a serial printer's line on the virtual clock, against a printer that understands only its own
// line: bytes sent at any other rate or frame are garbage to it and get no answer. (What a real UART
// makes of them is the virtual printer's line model, tried end to end.)
#include "protocol/line_finder.h"

#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kProbe = {0x10, 0x04, 0x04};   // DLE EOT 4
const Bytes kConfirm = {0x10, 0x04, 0x01}; // DLE EOT 1
const Bytes kInit = {0x1B, 0x40};

// A printer at `line` on COM1. It answers DLE EOT 4 and DLE EOT 1 with a status byte when the port is
// set to its line, `lateMs` late (`confirmLateMs` for DLE EOT 1); what comes at another line is counted,
// per line, as garbage.
struct LinePrinter {
    FakeDeviceServices os;
    FakeDevice& com = os.AddDevice("COM1");
    CPrinterPort port{os};
    SerialLine line;
    std::uint32_t lateMs = 0, confirmLateMs = 0;
    std::uint8_t status = 0x16;
    bool answersConfirm = true;
    Bytes probeReply, confirmReply;                    // instead of the status byte, when set
    std::vector<std::pair<SerialLine, Bytes>> garbage; // bytes taken at a wrong line, by line
    std::vector<Bytes> understood;                     // commands taken at its line

    explicit LinePrinter(SerialLine at) : line(at) {
        com.onBytes = [this](FakeDevice& d, const Bytes& bytes) {
            const SerialLine now{static_cast<int>(d.settings.baudRate), d.settings.byteSize,
                                 d.settings.parity, d.settings.stopBits};
            if (!(now == line)) {
                if (garbage.empty() || !(garbage.back().first == now)) garbage.push_back({now, {}});
                garbage.back().second.insert(garbage.back().second.end(), bytes.begin(), bytes.end());
                return;
            }
            understood.push_back(bytes);
            if (bytes == kProbe)
                d.ReplyAt(os.Now() + lateMs, probeReply.empty() ? Bytes{status} : probeReply);
            if (bytes == kConfirm && answersConfirm)
                d.ReplyAt(os.Now() + confirmLateMs, confirmReply.empty() ? Bytes{status} : confirmReply);
        };
        port.m_nBaudRate = 9600;
        port.m_nByteSize = 8;
        EXPECT_EQ(port.Open(), 1);
    }
};

TEST(LineFinder, TheCandidatesAreWhatSwitchNineCanHoldEachOnceTheSlowestRateFirst) {
    const std::vector<SerialLine> c = LineCandidates();
    ASSERT_EQ(c.size(), 30u);
    std::set<std::string> seen;
    for (const SerialLine& l : c) {
        EXPECT_TRUE(seen.insert(SerialLineText(l)).second) << SerialLineText(l) << " twice";
        EXPECT_NE(std::set<int>({9600, 19200, 38400, 57600, 115200}).count(l.baud), 0u);
        EXPECT_TRUE(l.dataBits == 7 || l.dataBits == 8);
        EXPECT_TRUE(l.parity >= 0 && l.parity <= 2);
        EXPECT_EQ(l.stopBits, 0);
    }
    // The slowest rate first, and at each rate the 8-bit frames first.
    const char* const frames[] = {"8N1", "8E1", "8O1", "7O1", "7E1", "7N1"};
    const char* const rates[] = {"9600", "19200", "38400", "57600", "115200"};
    for (std::size_t i = 0; i < c.size(); ++i)
        EXPECT_EQ(SerialLineText(c[i]), std::string(rates[i / 6]) + " " + frames[i % 6]) << i;
}

TEST(LineFinder, APrinterAtAnyCandidateIsFoundWithOneStatusQueryAtEachWrongLine) {
    for (const bool clear : {true, false}) {
        for (const SerialLine& at : LineCandidates()) {
            LinePrinter p(at);
            const std::uint32_t t0 = p.os.Now();
            const LineSearch s = FindLine(p.port, LineCandidates(), {}, clear);
            ASSERT_TRUE(s.found) << SerialLineText(at);
            EXPECT_EQ(s.line, at);
            EXPECT_EQ(s.tried.back(), at);
            EXPECT_LE(p.os.Now() - t0, 2000u) << SerialLineText(at) << ": found too slowly";
            for (const auto& [l, bytes] : p.garbage)
                EXPECT_EQ(bytes, kProbe) << "only the probe at the wrong line " << SerialLineText(l);
            EXPECT_EQ(p.understood, clear ? (std::vector<Bytes>{kProbe, kConfirm, kInit})
                                          : (std::vector<Bytes>{kProbe, kConfirm}))
                << "probe, confirmation, then (unless the command sends nothing but queries) ESC @";
            EXPECT_EQ(p.port.m_nBaudRate, at.baud) << "the port is left at the line found";
            EXPECT_EQ(p.port.m_nParity, at.parity);
        }
    }
}

TEST(LineFinder, AByteAfterTheProbesReplyIsThrownAwayButOneAfterTheConfirmationIsNoStatus) {
    LinePrinter p({19200, 8, 0, 0});
    p.probeReply = {0x12, 0x00}; // a stray byte after the probe's reply: the right line all the same
    LineSearch s = FindLine(p.port);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(SerialLineText(s.line), "19200 8N1");

    LinePrinter two({19200, 8, 0, 0});
    two.confirmReply = {0x12, 0x12};
    s = FindLine(two.port);
    EXPECT_FALSE(s.found) << "a reply of two bytes is no status byte";
}

TEST(LineFinder, TheConfirmationWaitsItsOwnTimeNotTheProbes) {
    LinePrinter p({38400, 8, 2, 0});
    p.confirmLateMs = kProbeReplyMs + 200; // within the confirmation's wait
    const LineSearch s = FindLine(p.port);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(SerialLineText(s.line), "38400 8E1");
    EXPECT_LE(s.tried.size(), 30u) << "found in the first round";
}

TEST(LineFinder, ASilentPrinterIsGivenUpAfterOneRoundWithinFiveSeconds) {
    LinePrinter p({4800, 8, 0, 0}); // a line no candidate has: nothing ever answers
    const std::uint32_t t0 = p.os.Now();
    const LineSearch s = FindLine(p.port);
    EXPECT_FALSE(s.found);
    EXPECT_FALSE(s.lineDown);
    EXPECT_EQ(s.tried.size(), 30u) << "no second round when nothing was heard";
    EXPECT_LE(p.os.Now() - t0, 5000u);
    EXPECT_GE(p.os.Now() - t0, 30 * kProbeReplyMs);
}

TEST(LineFinder, AReplyOfTheWrongShapeIsNeverTrusted) {
    // A byte that is no status byte, and a status byte whose confirmation never comes.
    for (const bool statusShape : {false, true}) {
        LinePrinter p({9600, 8, 0, 0});
        p.status = statusShape ? 0x16 : 0x80;
        p.answersConfirm = false;
        const LineSearch s = FindLine(p.port);
        EXPECT_FALSE(s.found) << statusShape;
        EXPECT_EQ(s.tried.size(), 31u) << "something answered at the first: a second, slower try there";
    }
}

// The late reply is heard a few candidates on; the search goes back over those before it at once, with the
// slower wait, before any further probe; the whole search stays within 5 s.
TEST(LineFinder, APrinterSlowToAnswerIsFoundAtOnceAmongTheCandidatesBeforeTheReply) {
    for (const SerialLine at : {SerialLine{38400, 8, 0, 0}, SerialLine{115200, 7, 0, 0}}) {
        LinePrinter p(at);
        p.lateMs = 250; // past the first round's wait, within the second's
        p.confirmLateMs = 250;
        const std::uint32_t t0 = p.os.Now();
        const LineSearch s = FindLine(p.port);
        ASSERT_TRUE(s.found) << SerialLineText(at);
        EXPECT_EQ(s.line, at);
        // Its own candidate, the few after it until the late reply came (none past it), and back over those.
        const std::vector<SerialLine> c = LineCandidates();
        const std::size_t own = static_cast<std::size_t>(std::find(c.begin(), c.end(), at) - c.begin());
        EXPECT_GT(s.tried.size(), own + 1) << SerialLineText(at);
        EXPECT_LE(s.tried.size(), own + 1 + 6 + 7) << SerialLineText(at);
        EXPECT_LE(p.os.Now() - t0, 5000u) << SerialLineText(at);
    }
}

TEST(LineFinder, ALineThatTakesNoBytesEndsTheSearchAtTheFirstCandidate) {
    LinePrinter p({9600, 8, 0, 0});
    p.com.acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(0); };
    const LineSearch s = FindLine(p.port);
    EXPECT_FALSE(s.found);
    EXPECT_TRUE(s.lineDown);
    EXPECT_EQ(s.tried.size(), 1u);
}

TEST(LineFinder, AStopEndsTheSearchBeforeTheNextCandidate) {
    LinePrinter p({57600, 7, 0, 0});
    int asked = 0;
    const LineSearch s = FindLine(p.port, LineCandidates(), [&] { return ++asked > 3; });
    EXPECT_FALSE(s.found);
    EXPECT_EQ(s.tried.size(), 3u);
}

} // namespace
