// Finding a serial printer's line on the virtual clock, against a printer that understands only its own
// line: bytes sent at any other rate or frame are garbage to it and get no answer.
#include "protocol/line_finder.h"

#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

#include <set>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kStatusQuery = {0x10, 0x04, 0x01};
const Bytes kModelId = {0x1D, 0x49, 0x01};
const Bytes kInit = {0x1B, 0x40};

// A printer at `line` on COM1. It answers DLE EOT 1 with a status byte and GS I 1 with "." when the
// port is set to its line, `lateMs` late; what comes at another line is counted, per line, as garbage.
struct LinePrinter {
    FakeDeviceServices os;
    FakeDevice& com = os.AddDevice("COM1");
    CPrinterPort port{os};
    SerialLine line;
    std::uint32_t lateMs = 0;
    std::uint8_t status = 0x16;
    bool answersModelId = true;
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
            if (bytes == kStatusQuery) d.ReplyAt(os.Now() + lateMs, {status});
            if (bytes == kModelId && answersModelId) d.ReplyAt(os.Now() + lateMs, {'.'});
        };
        port.m_nBaudRate = 9600;
        port.m_nByteSize = 8;
        EXPECT_EQ(port.Open(), 1);
    }
};

TEST(LineFinder, TheCandidatesAreWhatSwitchNineCanHoldEachOnceTheFactorySettingFirst) {
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
    EXPECT_EQ(SerialLineText(c[0]), "115200 8N1");
    EXPECT_EQ(SerialLineText(c[1]), "9600 8N1");
    EXPECT_EQ(SerialLineText(c[4]), "57600 8N1");
    EXPECT_EQ(SerialLineText(c[5]), "115200 7E1");
    EXPECT_EQ(SerialLineText(c[29]), "57600 7N1");
}

TEST(LineFinder, APrinterAtAnyCandidateIsFoundWithFewQueryBytesAtEachWrongLineAndItsBufferCleared) {
    for (const SerialLine& at : LineCandidates()) {
        LinePrinter p(at);
        const std::uint32_t t0 = p.os.Now();
        const LineSearch s = FindLine(p.port);
        ASSERT_TRUE(s.found) << SerialLineText(at);
        EXPECT_EQ(s.line, at);
        EXPECT_EQ(s.tried.back(), at);
        EXPECT_LE(p.os.Now() - t0, 5000u) << SerialLineText(at) << ": found too slowly";
        for (const auto& [l, bytes] : p.garbage) {
            EXPECT_LE(bytes.size(), 16u) << SerialLineText(l);
            EXPECT_EQ(bytes, kStatusQuery) << "only the status query at the wrong line " << SerialLineText(l);
        }
        EXPECT_EQ(p.understood, (std::vector<Bytes>{kStatusQuery, kModelId, kInit}))
            << "probe, confirmation, then ESC @ clears what the printer took as text";
        EXPECT_EQ(p.port.m_nBaudRate, at.baud) << "the port is left at the line found";
        EXPECT_EQ(p.port.m_nParity, at.parity);
    }
}

TEST(LineFinder, ASilentPrinterIsGivenUpAfterOneRoundWithinTenSeconds) {
    LinePrinter p({4800, 8, 0, 0}); // a line no candidate has: nothing ever answers
    const std::uint32_t t0 = p.os.Now();
    const LineSearch s = FindLine(p.port);
    EXPECT_FALSE(s.found);
    EXPECT_FALSE(s.lineDown);
    EXPECT_EQ(s.tried.size(), 30u) << "no second round when nothing was heard";
    EXPECT_LE(p.os.Now() - t0, 10000u);
    EXPECT_GE(p.os.Now() - t0, 30 * kProbeReplyMs);
}

TEST(LineFinder, AReplyOfTheWrongShapeIsNeverTrusted) {
    // A byte that is no status byte, and a status byte whose confirmation never comes.
    for (const bool statusShape : {false, true}) {
        LinePrinter p({9600, 8, 0, 0});
        p.status = statusShape ? 0x16 : 0x80;
        p.answersModelId = false;
        const LineSearch s = FindLine(p.port);
        EXPECT_FALSE(s.found) << statusShape;
        EXPECT_EQ(s.tried.size(), 60u) << "something answered: a second, slower round";
    }
}

TEST(LineFinder, APrinterSlowToAnswerIsFoundInTheSecondRound) {
    LinePrinter p({38400, 8, 0, 0});
    p.lateMs = 250; // past the first round's wait, within the second's
    const LineSearch s = FindLine(p.port);
    ASSERT_TRUE(s.found);
    EXPECT_EQ(SerialLineText(s.line), "38400 8N1");
    EXPECT_GT(s.tried.size(), 30u);
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
