// The printer sequences over a real serial port against pinwright-sim: the connection handshake, the
// pre-check with identification, Get Status, Set Status and a read-back. The same program runs on Linux
// and, cross-built, under wine; port_e2e.sh compares what the printer received from each.
#include "link/printer_port.h"
#include "protocol/connection_check.h"
#include "protocol/switch_sequences.h"
#include "settings/switch_model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace pw;

namespace {

struct RecordingView : SequenceView {
    std::vector<std::string> messages;
    int steps = 0;
    void SetProgressPos(int) override {}
    void StepProgress() override { ++steps; }
    void RefreshControls() override {}
    void SelectCodePage(int) override {}
    void Message(const std::string& text, MessageKind) override { messages.push_back(text); }
};

// COM1 unless the run names another port.
std::string PortName() {
    const char* name = std::getenv("PINWRIGHT_E2E_PORT");
    return name && *name ? name : "COM1";
}

// 115200 baud, 8 bits, no parity, one and a half stop bits (two on Linux, which has no 1.5).
void OpenPrinter(CPrinterPort& port) {
    port.m_strPort = PortName();
    port.m_nBaudRate = 115200;
    port.m_nByteSize = 8;
    port.m_nParity = 0;
    port.m_nStopBits = 1;
    ASSERT_EQ(port.Open(), 1) << port.m_strPort << ": " << port.Services().LastOpenProblem();
}

TEST(PortSequences, HandshakeFindsThePrinter) {
    CPrinterPort port;
    OpenPrinter(port);
    EXPECT_EQ(RunConnectionHandshake(port, kSerial), HandshakeResult::Connected);
    EXPECT_NE(port.Close(), 0);
}

TEST(PortSequences, GetStatusSetStatusAndReadBack) {
    CPrinterPort port;
    OpenPrinter(port);
    std::string firmware, model;
    PrinterIdentity identity{firmware, model};
    RecordingView view;

    ASSERT_EQ(CheckPrinter(port, kSerial, identity, view), 1);
    EXPECT_FALSE(firmware.empty());
    EXPECT_EQ(model.rfind(kExpectedModelFamily, 0), 0u) << model;
    SwitchModel m;
    ASSERT_EQ(ReadSwitches(port, kSerial, m, view), SequenceResult::Ok);

    // Change every setting to another value.
    SwitchModel changed = m;
    changed.m_nBaudSel = (m.m_nBaudSel + 1) % kBaudRateCount;
    ApplyBaudRate(changed);
    changed.m_nParitySel = (m.m_nParitySel + 1) % kParityCount;
    ApplyParity(changed);
    changed.m_nCodePageSel = (m.m_nCodePageSel + 5) % kCodePageCount;
    ApplyCodePage(changed);
    changed.m_nCutterSel = 1 - m.m_nCutterSel;
    ApplyAutoCutter(changed);
    changed.m_nAutoFeedSel = 1 - m.m_nAutoFeedSel;
    ASSERT_EQ(CheckPrinter(port, kSerial, identity, view), 1);
    ASSERT_EQ(WriteSwitches(port, changed, view), SequenceResult::Ok);

    SwitchModel back;
    ASSERT_EQ(CheckPrinter(port, kSerial, identity, view), 1);
    ASSERT_EQ(ReadSwitches(port, kSerial, back, view), SequenceResult::Ok);
    for (int pin = 0; pin < 8; ++pin) {
        EXPECT_EQ(back.m_sw2[pin], changed.m_sw2[pin]) << "switch 2 pin " << pin + 1;
        EXPECT_EQ(back.m_sw9[pin], changed.m_sw9[pin]) << "switch 9 pin " << pin + 1;
    }
    EXPECT_EQ(back.m_nBaudSel, changed.m_nBaudSel);
    EXPECT_EQ(back.m_nCodePageSel, changed.m_nCodePageSel);
    EXPECT_EQ(back.m_nAutoFeedSel, changed.m_nAutoFeedSel);
    EXPECT_NE(back.m_sw9[5] + 2 * back.m_sw9[6] + 4 * back.m_sw9[7],
              m.m_sw9[5] + 2 * m.m_sw9[6] + 4 * m.m_sw9[7])
        << "the baud rate pins changed on the printer";
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    // Close purges output: let the printer take the closing select command first, so that both runs
    // show it however fast the simulator reads.
    port.Services().Sleep(300);
    EXPECT_NE(port.Close(), 0);
}

} // namespace
