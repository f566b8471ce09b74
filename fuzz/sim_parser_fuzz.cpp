// The virtual printer's command parser: any byte stream, split anywhere, gives the same replies and never
// crashes.
#include "fuzz/fuzz_check.h"
#include "sim/printer_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t cut = data[0] % size;
    sim::Bytes stream(data + 1, data + size);
    sim::PrinterEngine whole;
    const sim::Bytes expected = whole.Feed(stream);
    sim::PrinterEngine split;
    sim::Bytes got = split.Feed(
        sim::Bytes(stream.begin(), stream.begin() + static_cast<long>(std::min(cut, stream.size()))));
    sim::Bytes rest = split.Feed(
        sim::Bytes(stream.begin() + static_cast<long>(std::min(cut, stream.size())), stream.end()));
    got.insert(got.end(), rest.begin(), rest.end());
    FUZZ_CHECK(got == expected);
    for (int n = 1; n <= 9; ++n) FUZZ_CHECK(whole.SwitchText(n).size() == 8);
    return 0;
}
