// The virtual printer's line, bit by bit: decodings worked out by hand from the frames on paper, what a
// Linux serial driver passes on, and the frame each switch 9 holds.
#include "sim/pty_line.h"
#include "sim/uart_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <termios.h>

using sim::ReceiveBurst;
using sim::UartChar;
using sim::UartFrame;

namespace {

const UartFrame k9600{9600, 8, 'N', 1}, k115200{115200, 8, 'N', 1};

UartChar Ok(std::uint8_t v) {
    return {v, false, false};
}
UartChar Framing(std::uint8_t v) {
    return {v, true, false};
}
UartChar Parity(std::uint8_t v) {
    return {v, false, true};
}

TEST(UartLine, TheSameLineReadsEveryByteAsSent) {
    std::vector<std::uint8_t> all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
    for (const UartFrame f : {k9600, UartFrame{38400, 8, 'E', 1}, UartFrame{57600, 8, 'O', 2}}) {
        const std::vector<UartChar> got = ReceiveBurst(all, f, f);
        ASSERT_EQ(got.size(), 256u) << sim::FrameText(f);
        for (int b = 0; b < 256; ++b)
            EXPECT_EQ(got[static_cast<std::size_t>(b)], Ok(static_cast<std::uint8_t>(b)));
    }
    const std::vector<UartChar> seven = ReceiveBurst({0x41, 0x43}, {9600, 7, 'E', 1}, {9600, 7, 'E', 1});
    EXPECT_EQ(seven, (std::vector<UartChar>{Ok(0x41), Ok(0x43)}));
}

// 0x55 at 9600: start, 1 0 1 0 1 0 1 0, stop. Each of its bits lasts 12 bits at 115200, so each low bit
// (the start bit and d1, d3, d5, d7) holds the line low past the receiver's stop-bit sample at 9.5: five
// characters 00 whose stop bit reads low.
TEST(UartLine, AByteAt9600ReadAt115200IsFiveBreaks) {
    EXPECT_EQ(ReceiveBurst({0x55}, k9600, k115200), std::vector<UartChar>(5, Framing(0x00)));
}

// DLE EOT 1 at 115200 is 30 bits, 2.5 bits at 9600. The receiver's start-bit sample (tx bit 6) is d5 of
// DLE, low; d0 (tx bit 18) is d7 of EOT, low; d1 to d7 and the stop bit fall on the idle line: FE.
TEST(UartLine, ABurstAt115200ReadAt9600IsOneCharacterOfIdleOnes) {
    EXPECT_EQ(ReceiveBurst({0x10, 0x04, 0x01}, k115200, k9600), std::vector<UartChar>{Ok(0xFE)});
    // FF: the start bit is over before the receiver's sample: a glitch, nothing read.
    EXPECT_TRUE(ReceiveBurst({0xFF}, k115200, k9600).empty());
}

// 8N1 into 8E1 back to back: DLE's stop bit is read as its (right) parity bit, and the receiver's stop
// sample (bit 10) is EOT's start bit: FE. It waits for the next falling edge, EOT's d3 (bit 14), and
// reads from there 0 0 0 0 1 1 1 1 = F0, parity 1 where four ones want 0.
TEST(UartLine, AnEightBitFrameReadWithParityLosesStepBackToBack) {
    EXPECT_EQ(ReceiveBurst({0x10, 0x04}, k9600, {9600, 8, 'E', 1}),
              (std::vector<UartChar>{Framing(0x10), Parity(0xF0)}));
    // With two stop bits each byte is read whole, its stop bit as the parity bit.
    EXPECT_EQ(ReceiveBurst({0x10, 0x04}, {9600, 8, 'N', 2}, {9600, 8, 'E', 1}),
              (std::vector<UartChar>{Ok(0x10), Ok(0x04)}));
    EXPECT_EQ(ReceiveBurst({0x10, 0x04}, {9600, 8, 'N', 2}, {9600, 8, 'O', 1}),
              (std::vector<UartChar>{Parity(0x10), Parity(0x04)}));
}

// 7E1 is ten bits like 8N1: an 8-bit receiver reads the parity bit as d7.
TEST(UartLine, SevenBitsWithParityReadAsEightBits) {
    EXPECT_EQ(ReceiveBurst({0x41, 0x43}, {9600, 7, 'E', 1}, k9600),
              (std::vector<UartChar>{Ok(0x41), Ok(0xC3)}));
    // The other way: an 8N1 DLE at 7E1 has d7 (0) where even parity wants 1.
    EXPECT_EQ(ReceiveBurst({0x10}, k9600, {9600, 7, 'E', 1}), std::vector<UartChar>{Parity(0x10)});
}

TEST(PtyLine, TheDriverDropsMarksOrZeroesErrorsOnlyWhenItChecksThem) {
    const std::vector<UartChar> read = {Ok(0x12), Framing(0x12), Parity(0x16), Ok(0xFF)};
    EXPECT_EQ(sim::DeliveredToReader(read, 0), (std::vector<std::uint8_t>{0x12, 0x12, 0x16, 0xFF}))
        << "without INPCK an error is not checked";
    EXPECT_EQ(sim::DeliveredToReader(read, INPCK), (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(sim::DeliveredToReader(read, INPCK | IGNPAR), (std::vector<std::uint8_t>{0x12, 0xFF}));
    EXPECT_EQ(sim::DeliveredToReader(read, INPCK | PARMRK),
              (std::vector<std::uint8_t>{0x12, 0xFF, 0x00, 0x12, 0xFF, 0x00, 0x16, 0xFF, 0xFF}));
    EXPECT_EQ(sim::DeliveredToReader({Ok(0xC1)}, ISTRIP), std::vector<std::uint8_t>{0x41});
}

// Every switch 9 the tool can write: pins 6 to 8 the rate, pin 2 seven bits, pin 4 parity check with
// pin 3 even.
TEST(PtyLine, EverySwitchNineHoldsItsFrame) {
    const int rates[] = {9600, 19200, 38400, 57600, 115200, 0, 0, 0};
    for (int pins = 0; pins < 256; ++pins) {
        const UartFrame f = sim::FrameOfSwitch9(static_cast<std::uint8_t>(pins));
        EXPECT_EQ(f.baud, rates[(pins >> 5) & 7]) << pins;
        EXPECT_EQ(f.dataBits, (pins & 0x02) ? 7 : 8) << pins;
        EXPECT_EQ(f.parity, !(pins & 0x08) ? 'N' : (pins & 0x04) ? 'E' : 'O') << pins;
        EXPECT_EQ(f.stopBits, 1);
    }
}

} // namespace

namespace {

// The README's table of what a printer at each rate reads of the line search's probe, against the model.
TEST(UartLine, TheReadmesProbeTableIsWhatTheModelReads) {
    std::ifstream in(PINWRIGHT_README);
    const std::string readme{std::istreambuf_iterator<char>(in), {}};
    const std::size_t from = readme.find("<!-- probe table -->"),
                      to = readme.find("<!-- end of probe table -->");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    const int rates[] = {9600, 19200, 38400, 57600, 115200};
    std::string table =
        "\n| DLE EOT 4 sent at | read at 9600 | at 19200 | at 38400 | at 57600 | at 115200 |\n"
        "|---|---|---|---|---|---|\n";
    for (const int tx : rates) {
        table += "| " + std::to_string(tx) + " 8N1 |";
        for (const int rx : rates) {
            if (tx == rx) {
                table += " 10 04 04 (answered) |";
                continue;
            }
            std::string cell;
            for (const UartChar& c : ReceiveBurst({0x10, 0x04, 0x04}, {tx, 8, 'N', 1}, {rx, 8, 'N', 1})) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "%s%02X%s", cell.empty() ? "" : " ", c.value,
                              c.framingError || c.parityError ? "!" : "");
                cell += hex;
            }
            table += " " + (cell.empty() ? std::string("nothing") : cell) + " |";
        }
        table += "\n";
    }
    EXPECT_EQ(readme.substr(from + 20, to - from - 20), table);
}

} // namespace
