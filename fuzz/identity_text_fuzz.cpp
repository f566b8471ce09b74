// Identity texts from a printer that sends arbitrary bytes: the reader ends, keeps at most 64 characters
// and never keeps an underscore on a serial line.
#include "fuzz/fuzz_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw;
    if (size == 0) return 0;
    const bool usb = data[0] & 1;
    {
        fuzz::FuzzPort f(data + 1, size - 1, false);
        fuzz::QuietView view;
        std::string text;
        ReadIdentityText(f.port, text, 10, view);
        FUZZ_CHECK(text.size() <= kMaxIdentityText);
        FUZZ_CHECK(text.find('_') == std::string::npos);
        FUZZ_CHECK(text.find('\0') == std::string::npos);
    }
    fuzz::FuzzPort f(data + 1, size - 1, usb);
    fuzz::QuietView view;
    std::string firmware, model;
    PrinterIdentity id{firmware, model};
    const int r = IdentifyPrinter(f.port, usb ? kUsb : kSerial, id, view);
    FUZZ_CHECK(r >= -1 && r <= 1);
    FUZZ_CHECK(firmware.size() <= kMaxIdentityText && model.size() <= kMaxIdentityText);
    if (r == 1) FUZZ_CHECK(model.find(kExpectedModelFamily) != std::string::npos);
    return 0;
}
