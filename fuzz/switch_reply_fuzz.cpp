// Reading the switches from a printer that sends arbitrary bytes: it ends, and what it accepts is sound.
#include "fuzz/fuzz_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw;
    if (size == 0) return 0;
    const bool usb = data[0] & 1;
    fuzz::FuzzPort f(data + 1, size - 1, usb);
    fuzz::QuietView view;
    SwitchModel m;
    const SwitchModel before = m;
    const SequenceResult r = ReadSwitches(f.port, usb ? kUsb : kSerial, m, view);
    if (r != SequenceResult::Ok) {
        FUZZ_CHECK(m == before);
        return 0;
    }
    for (int p : m.m_sw2) FUZZ_CHECK(p == 0 || p == 1);
    for (int p : m.m_sw9) FUZZ_CHECK(p == 0 || p == 1);
    FUZZ_CHECK(m.m_nAutoFeedSel == 0 || m.m_nAutoFeedSel == 1);
    FUZZ_CHECK(m.m_nBaudSel >= 0 && m.m_nBaudSel <= 7);
    FUZZ_CHECK(view.steps == (usb ? 29 : 24));
    return 0;
}
