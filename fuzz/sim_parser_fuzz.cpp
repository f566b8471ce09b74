// The virtual printer's command parser: any byte stream, split anywhere, gives the same replies and never
// crashes, with any status faults in force. The first byte picks the cut, the second the faults.
#include "fuzz/fuzz_check.h"
#include "sim/printer_engine.h"

namespace {

void PickFaults(std::uint8_t bits, sim::PrinterEngine& p) {
    sim::StatusFaults& s = p.faults.status;
    s.paperOut = bits & 0x01;
    s.coverOpen = bits & 0x02;
    s.cutterError = bits & 0x04;
    s.drawerOpen = bits & 0x08;
    s.paperNearEnd = bits & 0x10;
    if (bits & 0x20) s.silent = {2};
    if (bits & 0x40) s.replies[3] = {0x00, 0xFF};
    p.faults.from = bits >> 7;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t cut = data[0] % size;
    sim::Bytes stream(data + 2, data + size);
    sim::PrinterEngine whole;
    PickFaults(data[1], whole);
    const sim::Bytes expected = whole.Feed(stream);
    sim::PrinterEngine split;
    PickFaults(data[1], split);
    sim::Bytes got = split.Feed(
        sim::Bytes(stream.begin(), stream.begin() + static_cast<long>(std::min(cut, stream.size()))));
    sim::Bytes rest = split.Feed(
        sim::Bytes(stream.begin() + static_cast<long>(std::min(cut, stream.size())), stream.end()));
    got.insert(got.end(), rest.begin(), rest.end());
    FUZZ_CHECK(got == expected);
    for (int n = 1; n <= 9; ++n) FUZZ_CHECK(whole.SwitchText(n).size() == 8);
    for (int n = 1; n <= 4; ++n) FUZZ_CHECK((whole.StatusByte(n) & 0x93) == 0x12);
    return 0;
}
