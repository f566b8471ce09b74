// The status file loader: any bytes either load into a model that saves back to the same bytes, or are
// refused without touching the model.
#include "fuzz/fuzz_check.h"
#include "settings/status_file.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pw;
    std::vector<std::uint8_t> bytes(data, data + size);
    SwitchModel m;
    m.m_nBaudSel = 3;
    const SwitchModel before = m;
    if (!DecodeStatus(bytes, m)) {
        FUZZ_CHECK(m == before);
        return 0;
    }
    const auto again = EncodeStatus(m);
    FUZZ_CHECK(size == again.size() && std::memcmp(again.data(), data, size) == 0);
    for (int p : m.m_sw2) FUZZ_CHECK(p == 0 || p == 1);
    for (int p : m.m_sw9) FUZZ_CHECK(p == 0 || p == 1);
    FUZZ_CHECK(m.m_nCodePageSel >= -1 && m.m_nCodePageSel < kCodePageCount);
    return 0;
}
