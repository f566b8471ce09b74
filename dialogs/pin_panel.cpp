// The pin panel of the main dialog: eight rows that show switch 2 or switch 9, the enabling of the setting
// controls, and the click handling that puts a disagreeing click back.
#include "dialogs/switch_dlg.h"
#include "res/resource.h"

#include <cstdio>

namespace pw {

namespace {

struct RowView {
    const char* label; // may hold %d for the pin number
    const char* left;
    const char* right;
    bool enabled;
};

constexpr RowView kReserved = {"[PIN %d] Reserved", "Reserved", "Reserved", false};

constexpr RowView kSwitch2View[8] = {
    kReserved,
    kReserved,
    {"[PIN 3] Auto Cutter", "Partial Cut", "Full Cut", true},
    {"[PIN %d] Default Code Page", "Switch Off", "Switch On", true},
    {"[PIN %d] Default Code Page", "Switch Off", "Switch On", true},
    {"[PIN %d] Default Code Page", "Switch Off", "Switch On", true},
    {"[PIN %d] Default Code Page", "Switch Off", "Switch On", true},
    {"[PIN %d] Default Code Page", "Switch Off", "Switch On", true},
};

constexpr RowView kSwitch9View[8] = {
    kReserved,
    {"[PIN 2] Data Length)", "8 bits", "7 bits", true},
    {"[PIN 3] Parity", "ODD", "EVEN", true},
    {"[PIN 4] Parity Check", "Disable", "Enable", true},
    {"[PIN 5] Flow Control", "DTR/DSR", "Xon/Xoff", true},
    {"[PIN %d] Baudrate", "Switch Off", "Switch On", true},
    {"[PIN %d] Baudrate", "Switch Off", "Switch On", true},
    {"[PIN %d] Baudrate", "Switch Off", "Switch On", true},
};

// The twelve setting controls, in the order they are enabled.
constexpr int kSettingControls[12] = {
    IDC_SET_STATUS, IDC_SWITCH2_STATUS, IDC_SWITCH9_STATUS, IDC_SAVE_STATUS, IDC_INIT_STATUS, IDC_BAUD_RATE,
    IDC_PARITY,     IDC_DATA_BITS,      IDC_FLOW_CONTROL,   IDC_AUTO_CUTTER, IDC_AUTO_FEED,   IDC_CODE_PAGE};

void ShowRow(CDialog& dlg, int row, const RowView& v) {
    char label[32];
    std::snprintf(label, sizeof label, v.label, row + 1);
    dlg.GetDlgItem(kPinLabel[row])->SetWindowText(label);
    for (int id : {kPinLeft[row], kPinRight[row]}) dlg.GetDlgItem(id)->EnableWindow(v.enabled);
    dlg.GetDlgItem(kPinLeft[row])->SetWindowText(v.left);
    dlg.GetDlgItem(kPinRight[row])->SetWindowText(v.right);
}

} // namespace

void CSwitchDlg::SetPanelView(BOOL bSwitch2) {
    const RowView* view = bSwitch2 ? kSwitch2View : kSwitch9View;
    for (int row = 0; row < 8; ++row) ShowRow(*this, row, view[row]);
}

void CSwitchDlg::OnSwitch2Status() {
    m_bSwitch2View = 1;
    SetPanelView(TRUE);
    for (int pin = 2; pin <= 8; ++pin) m_nPin[pin - 1] = m_sw2[pin - 1];
    UpdateData(FALSE);
}

void CSwitchDlg::OnSwitch9Status() {
    m_bSwitch2View = 0;
    SetPanelView(FALSE);
    for (int pin = 2; pin <= 8; ++pin) m_nPin[pin - 1] = m_sw9[pin - 1];
    UpdateData(FALSE);
}

void CSwitchDlg::EnableSettingControls(BOOL bEnable) {
    for (int id : kSettingControls) GetDlgItem(id)->EnableWindow(bEnable);
    if (bEnable) return;
    for (int row = 0; row < 8; ++row) {
        // In the switch 2 view the auto cutter row stays as it is.
        if (m_bSwitch2View && row == 2) continue;
        ShowRow(*this, row, kReserved);
    }
    m_nBaudSel = m_nDataBitsSel = m_nFlowSel = m_nCutterSel = m_nParitySel = m_nAutoFeedSel = -1;
    UpdateData(FALSE);
}

void CSwitchDlg::PinButtonClicked(int row, int value) {
    const int pin = (m_bSwitch2View ? m_sw2 : m_sw9)[row - 1];
    if (value == 0 && pin != 0) m_nPin[row - 1] = 1;
    if (value == 1 && pin == 0) m_nPin[row - 1] = 0;
    UpdateData(FALSE);
}

} // namespace pw
