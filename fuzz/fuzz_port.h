// A printer port over the scripted fake whose device answers with the fuzzer's bytes.
#pragma once

#include "fuzz/fuzz_check.h"
#include "protocol/switch_sequences.h"
#include "tests/support/fake_device_services.h"

#include <cstdlib>

namespace pw::fuzz {

struct QuietView : SequenceView {
    int steps = 0;
    void SetProgressPos(int) override {}
    void StepProgress() override { ++steps; }
    void RefreshControls() override {}
    void SelectCodePage(int) override {}
    void Message(const std::string&, MessageKind) override {}
};

struct FuzzPort {
    test::FakeDeviceServices os;
    CPrinterPort port{os};
    FuzzPort(const std::uint8_t* data, std::size_t size, bool usb) {
        auto& dev = os.AddDevice("COM1");
        dev.ReplyAt(os.Now(), test::Bytes(data, data + size));
        port.m_strPort = "COM1";
        port.m_nBaudRate = 9600;
        if (!port.Open()) std::abort();
        if (usb) {
            port.m_nKind = kUsb;
            os.SetCommTimeouts(port.m_hPort, TransferTimeLimits());
        }
    }
};

} // namespace pw::fuzz
