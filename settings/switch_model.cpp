#include "settings/switch_model.h"

namespace pw {

int CodePageIndexFromValue(int value) {
    for (int i = 0; i < kCodePageCount; ++i)
        if (kCodePageValues[static_cast<std::size_t>(i)] == value) return i;
    return 0;
}

int CodePageValueFromIndex(int index) {
    return index >= 0 && index < kCodePageCount ? kCodePageValues[static_cast<std::size_t>(index)] : 0;
}

int CodePageValueFromPins(const int sw2[8]) {
    int value = 0;
    for (int pin = 4; pin <= 8; ++pin)
        if (sw2[pin - 1] != 0) value |= 1 << (pin - 4);
    return value;
}

int BaudIndexFromPins(const int sw9[8]) {
    return (sw9[5] != 0 ? 1 : 0) + (sw9[6] != 0 ? 2 : 0) + (sw9[7] != 0 ? 4 : 0);
}

std::array<int, 3> BaudPinsFromIndex(int index) {
    if (index < 0 || index >= kBaudRateCount) return {0, 0, 0};
    return {index & 1, (index >> 1) & 1, (index >> 2) & 1};
}

void DeriveSelections(SwitchModel& m, int autoFeedPin) {
    m.m_nAutoFeedSel = autoFeedPin;
    m.m_nCodePageSel = CodePageIndexFromValue(CodePageValueFromPins(m.m_sw2));
    m.m_nCutterSel = m.m_sw2[2];
    m.m_nBaudSel = BaudIndexFromPins(m.m_sw9);
    m.m_nParitySel = m.m_sw9[3] == 0 ? 0 : (m.m_sw9[2] != 0 ? 2 : 1);
    m.m_nFlowSel = m.m_sw9[4];
    m.m_nDataBitsSel = m.m_sw9[1] == 0 ? 1 : 0;
}

namespace {
bool Switch2OnView(const SwitchModel& m) {
    return m.m_bSwitch2View != 0;
}

// Sets pin `pin` of a switch, and its row when that switch is on view.
void SetPin(SwitchModel& m, int* sw, bool onView, int pin, int value) {
    sw[pin - 1] = value;
    if (onView) m.m_nPin[pin - 1] = value;
}
} // namespace

void ApplyCodePage(SwitchModel& m) {
    const bool view = Switch2OnView(m);
    const int value = CodePageValueFromIndex(m.m_nCodePageSel);
    for (int pin = 4; pin <= 8; ++pin) SetPin(m, m.m_sw2, view, pin, (value >> (pin - 4)) & 1);
}

void ApplyBaudRate(SwitchModel& m) {
    const bool view = !Switch2OnView(m);
    const auto pins = BaudPinsFromIndex(m.m_nBaudSel);
    for (int i = 0; i < 3; ++i) SetPin(m, m.m_sw9, view, 6 + i, pins[static_cast<std::size_t>(i)]);
}

void ApplyFlowControl(SwitchModel& m) {
    SetPin(m, m.m_sw9, !Switch2OnView(m), 5, m.m_nFlowSel);
}

void ApplyAutoCutter(SwitchModel& m) {
    SetPin(m, m.m_sw2, Switch2OnView(m), 3, m.m_nCutterSel);
}

void ApplyParity(SwitchModel& m) {
    const bool view = !Switch2OnView(m);
    SetPin(m, m.m_sw9, view, 4, 0);
    if (m.m_nParitySel == 1) {
        SetPin(m, m.m_sw9, view, 3, 0);
        SetPin(m, m.m_sw9, view, 4, 1);
    } else if (m.m_nParitySel == 2) {
        SetPin(m, m.m_sw9, view, 3, 1);
        SetPin(m, m.m_sw9, view, 4, 1);
    }
    // "None": parity checking off; pin 3 keeps its value.
}

void ApplyDataBits(SwitchModel& m) {
    SetPin(m, m.m_sw9, !Switch2OnView(m), 2, m.m_nDataBitsSel == 0 ? 1 : 0);
}

void InitializeDefaults(SwitchModel& m) {
    m.m_nBaudSel = 4;
    m.m_nDataBitsSel = 1;
    m.m_nParitySel = 0;
    m.m_nFlowSel = 0;
    m.m_nCutterSel = 0;
    m.m_nCodePageSel = 0;
    m.m_nAutoFeedSel = 0;
    for (int pin = 2; pin <= 8; ++pin) m.m_sw2[pin - 1] = 0;
    for (int pin = 2; pin <= 7; ++pin) m.m_sw9[pin - 1] = 0;
    m.m_sw9[7] = 1;
}

} // namespace pw
