// The main dialog: the pin panel, the setting selectors, the printer commands (Get Status, Set Status),
// the status file, "Change Comm Type" and "Exit". Runs the communication dialog while it initialises.
#pragma once

#include "dialogs/comm_dlg.h"
#include "dialogs/message_icon.h"
#include "framework/dialog.h"
#include "protocol/switch_sequences.h"
#include "settings/switch_model.h"

#include <string>

namespace pw {

class CSwitchDlg : public CDialog, public SwitchModel, private SequenceView {
  public:
    explicit CSwitchDlg(DeviceServices& services = PlatformServices());

    CCommDlg m_commDlg;
    std::string m_strFirmware;
    std::string m_strModel;
    CComboBox m_cbParity, m_cbDataBits, m_cbAutoCutter, m_cbFlowControl, m_cbBaudRate, m_cbAutoFeed,
        m_cbCodePage;
    CProgressCtrl m_progress;

    // Pin panel.
    void SetPanelView(BOOL bSwitch2);
    void OnSwitch2Status();
    void OnSwitch9Status();
    void EnableSettingControls(BOOL bEnable);
    template <int Row, int Value> void OnPinButtonClicked() { PinButtonClicked(Row, Value); }

    // Printer.
    int CheckPrinter();
    int IdentifyPrinter();
    void OnGetStatus();
    void OnSetStatus();

    // Setting selectors.
    void OnSelchangeCodePage();
    void OnSelchangeAutoFeed();
    void OnSelchangeBaudRate();
    void OnSelchangeFlowControl();
    void OnSelchangeAutoCutter();
    void OnSelchangeParity();
    void OnSelchangeDataBits();

    // Status file.
    void OnInitializeStatus();
    void OnSaveStatus();
    void OnLoadStatus();

    void OnExit();
    void OnChangeCommType();
    void OnSysCommand(unsigned nID, long lParam) override;
    BOOL DestroyWindow() override;

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool Dispatch(int id, int code) override;

  private:
    void PinButtonClicked(int row, int value);
    // Runs a printer sequence on the port's worker (see PrinterWork::Run); false when the window was closed
    // meanwhile.
    bool RunPrinterWork(const std::function<void()>& sequence);
    // After a failed pre-check: only "Change Comm Type" brings the printer commands back.
    void PrinterNotReady();
    // The common frame of the selectors: controls to members, the new index, the rule, members to controls.
    void Selchange(CComboBox& combo, int& selection, void (*rule)(SwitchModel&));

    // SequenceView: the sequences run on the worker; the window is the user-interface thread's.
    void SetProgressPos(int pos) override {
        PostToUiThread([this, pos] { m_progress.SetPos(pos); });
    }
    void StepProgress() override {
        PostToUiThread([this] { m_progress.StepIt(); });
    }
    void RefreshControls() override {
        CallOnUiThread([this] { UpdateData(FALSE); });
    }
    void SelectCodePage(int index) override {
        PostToUiThread([this, index] { m_cbCodePage.SetCurSel(index); });
    }
    void Message(const std::string& text, MessageKind kind) override {
        PrinterWork::Message(text, MessageIcon(kind));
    }
};

} // namespace pw
