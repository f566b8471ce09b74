#include "settings/status_file.h"

namespace pw {

namespace {

// Field order of the file.
struct Field {
    enum Kind { Sw2, Sw9, Sel } kind;
    int pin;                     // for pins
    int SwitchModel::*selection; // for selections
    int count;                   // list size of a selection
};

constexpr Field kFields[22] = {
    {Field::Sw2, 1, nullptr, 0},
    {Field::Sw2, 2, nullptr, 0},
    {Field::Sw2, 4, nullptr, 0},
    {Field::Sw2, 5, nullptr, 0},
    {Field::Sw2, 6, nullptr, 0},
    {Field::Sw2, 7, nullptr, 0},
    {Field::Sw2, 8, nullptr, 0},
    {Field::Sw9, 1, nullptr, 0},
    {Field::Sw9, 2, nullptr, 0},
    {Field::Sw9, 3, nullptr, 0},
    {Field::Sw9, 4, nullptr, 0},
    {Field::Sw9, 5, nullptr, 0},
    {Field::Sw9, 6, nullptr, 0},
    {Field::Sw9, 7, nullptr, 0},
    {Field::Sw9, 8, nullptr, 0},
    {Field::Sel, 0, &SwitchModel::m_nBaudSel, kBaudRateCount},
    {Field::Sel, 0, &SwitchModel::m_nDataBitsSel, kDataBitsCount},
    {Field::Sel, 0, &SwitchModel::m_nFlowSel, kFlowCount},
    {Field::Sel, 0, &SwitchModel::m_nParitySel, kParityCount},
    {Field::Sel, 0, &SwitchModel::m_nCutterSel, kCutterCount},
    {Field::Sel, 0, &SwitchModel::m_nAutoFeedSel, kAutoFeedCount},
    {Field::Sel, 0, &SwitchModel::m_nCodePageSel, kCodePageCount},
};

int& Slot(SwitchModel& m, const Field& f) {
    switch (f.kind) {
    case Field::Sw2:
        return m.m_sw2[f.pin - 1];
    case Field::Sw9:
        return m.m_sw9[f.pin - 1];
    default:
        return m.*f.selection;
    }
}

} // namespace

std::array<std::uint8_t, kStatusFileSize> EncodeStatus(const SwitchModel& model) {
    SwitchModel m = model;
    std::array<std::uint8_t, kStatusFileSize> out{};
    for (std::size_t i = 0; i < 22; ++i) {
        const auto v = static_cast<std::uint32_t>(Slot(m, kFields[i]));
        for (std::size_t b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return out;
}

bool DecodeStatus(const std::vector<std::uint8_t>& bytes, SwitchModel& model) {
    if (bytes.size() != kStatusFileSize) return false;
    SwitchModel m = model;
    for (std::size_t i = 0; i < 22; ++i) {
        std::uint32_t u = 0;
        for (std::size_t b = 0; b < 4; ++b) u |= static_cast<std::uint32_t>(bytes[i * 4 + b]) << (8 * b);
        const auto v = static_cast<std::int32_t>(u);
        const Field& f = kFields[i];
        const bool ok = f.kind == Field::Sel ? (v >= -1 && v < f.count) : (v == 0 || v == 1);
        if (!ok) return false;
        Slot(m, f) = v;
    }
    // The cutter pin travels as the cutter selection; without one the pin stays as it was.
    if (m.m_nCutterSel >= 0) m.m_sw2[2] = m.m_nCutterSel;
    model = m;
    return true;
}

} // namespace pw
