#include "dialogs/switch_dlg.h"

#include "dialogs/about_dlg.h"
#include "framework/file_dialog.h"
#include "res/resource.h"
#include "res/strings.h"
#include "settings/status_file.h"

namespace pw {

namespace {

using D = CSwitchDlg;
const MessageMapEntry<CSwitchDlg> kMessageMap[] = {
    {IDC_EXIT, BN_CLICKED, &D::OnExit},
    {IDC_CHANGE_COMM, BN_CLICKED, &D::OnChangeCommType},
    {IDC_SWITCH2_STATUS, BN_CLICKED, &D::OnSwitch2Status},
    {IDC_SWITCH9_STATUS, BN_CLICKED, &D::OnSwitch9Status},
    {IDC_GET_STATUS, BN_CLICKED, &D::OnGetStatus},
    {IDC_SET_STATUS, BN_CLICKED, &D::OnSetStatus},
    {IDC_INIT_STATUS, BN_CLICKED, &D::OnInitializeStatus},
    {IDC_SAVE_STATUS, BN_CLICKED, &D::OnSaveStatus},
    {IDC_LOAD_STATUS, BN_CLICKED, &D::OnLoadStatus},
    {IDC_CODE_PAGE, CBN_SELCHANGE, &D::OnSelchangeCodePage},
    {IDC_AUTO_FEED, CBN_SELCHANGE, &D::OnSelchangeAutoFeed},
    {IDC_BAUD_RATE, CBN_SELCHANGE, &D::OnSelchangeBaudRate},
    {IDC_FLOW_CONTROL, CBN_SELCHANGE, &D::OnSelchangeFlowControl},
    {IDC_AUTO_CUTTER, CBN_SELCHANGE, &D::OnSelchangeAutoCutter},
    {IDC_PARITY, CBN_SELCHANGE, &D::OnSelchangeParity},
    {IDC_DATA_BITS, CBN_SELCHANGE, &D::OnSelchangeDataBits},
    {1050, BN_CLICKED, &D::OnPinButtonClicked<2, 0>},
    {1041, BN_CLICKED, &D::OnPinButtonClicked<2, 1>},
    {1051, BN_CLICKED, &D::OnPinButtonClicked<3, 0>},
    {1042, BN_CLICKED, &D::OnPinButtonClicked<3, 1>},
    {1052, BN_CLICKED, &D::OnPinButtonClicked<4, 0>},
    {1043, BN_CLICKED, &D::OnPinButtonClicked<4, 1>},
    {1053, BN_CLICKED, &D::OnPinButtonClicked<5, 0>},
    {1044, BN_CLICKED, &D::OnPinButtonClicked<5, 1>},
    {1054, BN_CLICKED, &D::OnPinButtonClicked<6, 0>},
    {1045, BN_CLICKED, &D::OnPinButtonClicked<6, 1>},
    {1055, BN_CLICKED, &D::OnPinButtonClicked<7, 0>},
    {1046, BN_CLICKED, &D::OnPinButtonClicked<7, 1>},
    {1056, BN_CLICKED, &D::OnPinButtonClicked<8, 0>},
    {1047, BN_CLICKED, &D::OnPinButtonClicked<8, 1>},
};

constexpr const char* kStatusFilter = "Status Files (*.sts)|*.sts|";
constexpr unsigned kSaveFlags = 0x00A82022;
constexpr unsigned kLoadFlags = 0x00A81022;

} // namespace

CSwitchDlg::CSwitchDlg(DeviceServices& services) : CDialog(IDD_SWITCH_DIALOG), m_commDlg(services) {}

bool CSwitchDlg::Dispatch(int id, int code) {
    return DispatchMessageMap(*this, kMessageMap, id, code);
}

void CSwitchDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_PARITY, m_cbParity);
    DDX_Control(pDX, IDC_DATA_BITS, m_cbDataBits);
    DDX_Control(pDX, IDC_AUTO_CUTTER, m_cbAutoCutter);
    DDX_Control(pDX, IDC_FLOW_CONTROL, m_cbFlowControl);
    DDX_Control(pDX, IDC_BAUD_RATE, m_cbBaudRate);
    DDX_Control(pDX, IDC_AUTO_FEED, m_cbAutoFeed);
    DDX_Control(pDX, IDC_CODE_PAGE, m_cbCodePage);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_CBIndex(pDX, IDC_BAUD_RATE, m_nBaudSel);
    DDX_CBIndex(pDX, IDC_DATA_BITS, m_nDataBitsSel);
    DDX_CBIndex(pDX, IDC_FLOW_CONTROL, m_nFlowSel);
    DDX_CBIndex(pDX, IDC_AUTO_CUTTER, m_nCutterSel);
    DDX_CBIndex(pDX, IDC_CODE_PAGE, m_nCodePageSel);
    DDX_CBIndex(pDX, IDC_PARITY, m_nParitySel);
    DDX_Radio(pDX, 1053, m_nPin[4]);
    DDX_Radio(pDX, 1055, m_nPin[6]);
    DDX_Radio(pDX, 1056, m_nPin[7]);
    DDX_Text(pDX, IDC_FIRMWARE, m_strFirmware);
    DDX_Text(pDX, IDC_MODEL, m_strModel);
    DDX_Radio(pDX, 1052, m_nPin[3]);
    DDX_Radio(pDX, 1054, m_nPin[5]);
    DDX_Radio(pDX, 1049, m_nPin[0]);
    DDX_Radio(pDX, 1050, m_nPin[1]);
    DDX_Radio(pDX, 1051, m_nPin[2]);
    DDX_CBIndex(pDX, IDC_AUTO_FEED, m_nAutoFeedSel);
}

BOOL CSwitchDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (const char* about = LoadStringResource(IDS_ABOUTBOX); *about) {
        Window()->AppendSystemMenu(0, "");
        Window()->AppendSystemMenu(IDM_ABOUTBOX, about);
    }
    // The icon: every window of the program carries the application icon (resource 128).
    if (m_commDlg.DoModal() != IDOK) AfxExitProcess(0);
    m_progress.SetRange(0, 100);
    m_progress.SetStep(4);
    return TRUE;
}

void CSwitchDlg::OnSysCommand(unsigned nID, long lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    CDialog::OnSysCommand(nID, lParam);
}

BOOL CSwitchDlg::DestroyWindow() {
    m_commDlg.m_port.Close();
    return CDialog::DestroyWindow();
}

void CSwitchDlg::OnExit() {
    AfxExitProcess(0);
}

void CSwitchDlg::OnChangeCommType() {
    EnableSettingControls(FALSE);
    m_commDlg.m_port.Close();
    m_strFirmware.clear();
    m_strModel.clear();
    m_commDlg.m_nInterface = kSerial;
    UpdateData(FALSE);
    const BOOL ok = m_commDlg.DoModal() == IDOK;
    GetDlgItem(IDC_GET_STATUS)->EnableWindow(ok);
    GetDlgItem(IDC_LOAD_STATUS)->EnableWindow(ok);
}

// --- printer ---------------------------------------------------------------------------------------------

int CSwitchDlg::CheckPrinter() {
    PrinterIdentity identity{m_strFirmware, m_strModel};
    return pw::CheckPrinter(m_commDlg.m_port, m_commDlg.m_nInterface, identity, *this);
}

int CSwitchDlg::IdentifyPrinter() {
    PrinterIdentity identity{m_strFirmware, m_strModel};
    return pw::IdentifyPrinter(m_commDlg.m_port, m_commDlg.m_nInterface, identity, *this);
}

bool CSwitchDlg::RunPrinterWork(const std::function<void()>& sequence) {
    return m_commDlg.m_printerWork.Run(*this, m_commDlg.m_port, sequence);
}

void CSwitchDlg::PrinterNotReady() {
    EnableSettingControls(FALSE);
    GetDlgItem(IDC_GET_STATUS)->EnableWindow(FALSE);
    GetDlgItem(IDC_LOAD_STATUS)->EnableWindow(FALSE);
}

void CSwitchDlg::OnGetStatus() {
    int ready = 0;
    SwitchModel read = *this;
    SequenceResult r = SequenceResult::NoAnswer;
    if (!RunPrinterWork([&] {
            ready = CheckPrinter();
            if (ready && !WorkerStopping())
                r = ReadSwitches(m_commDlg.m_port, m_commDlg.m_nInterface, read, *this);
        }))
        return; // the window was closed meanwhile
    if (!ready) {
        PrinterNotReady();
        return;
    }
    if (r != SequenceResult::Ok) {
        // Nothing half-read is used: the model, the selections and the panel stay as they were.
        AfxMessageBox(SequenceFailureText(r), MB_ICONEXCLAMATION);
        m_progress.SetPos(0);
        return;
    }
    static_cast<SwitchModel&>(*this) = read;
    m_progress.SetPos(100);
    EnableSettingControls(TRUE);
    OnSwitch9Status();
    OnSwitch2Status();
    AfxMessageBox("Success to get status of printer.", MB_ICONINFORMATION);
    UpdateData(FALSE);
    m_progress.SetPos(0);
}

void CSwitchDlg::OnSetStatus() {
    int ready = 0;
    SequenceResult r = SequenceResult::NotWritten;
    if (!RunPrinterWork([&] {
            // A close that came during the pre-check: the printer is not put into user setting mode.
            if (!(ready = CheckPrinter()) || WorkerStopping()) return;
            CallOnUiThread([this] {
                m_progress.SetPos(0);
                UpdateData(TRUE);
            });
            r = WriteSwitches(m_commDlg.m_port, *this, *this);
        }))
        return; // the window was closed meanwhile: user setting mode was ended first
    if (!ready) {
        PrinterNotReady();
        return;
    }
    if (r != SequenceResult::Ok) {
        AfxMessageBox(SequenceFailureText(r), MB_ICONEXCLAMATION);
        m_progress.SetPos(0);
        return;
    }
    AfxMessageBox("Success to set status of printer", MB_ICONINFORMATION);
    m_progress.SetPos(0);
}

// --- setting selectors -----------------------------------------------------------------------------------

void CSwitchDlg::Selchange(CComboBox& combo, int& selection, void (*rule)(SwitchModel&)) {
    UpdateData(TRUE);
    selection = combo.GetCurSel();
    if (rule) rule(*this);
    UpdateData(FALSE);
}

void CSwitchDlg::OnSelchangeCodePage() {
    Selchange(m_cbCodePage, m_nCodePageSel, ApplyCodePage);
}
void CSwitchDlg::OnSelchangeAutoFeed() {
    Selchange(m_cbAutoFeed, m_nAutoFeedSel, nullptr);
}
void CSwitchDlg::OnSelchangeBaudRate() {
    Selchange(m_cbBaudRate, m_nBaudSel, ApplyBaudRate);
}
void CSwitchDlg::OnSelchangeFlowControl() {
    Selchange(m_cbFlowControl, m_nFlowSel, ApplyFlowControl);
}
void CSwitchDlg::OnSelchangeAutoCutter() {
    Selchange(m_cbAutoCutter, m_nCutterSel, ApplyAutoCutter);
}
void CSwitchDlg::OnSelchangeParity() {
    Selchange(m_cbParity, m_nParitySel, ApplyParity);
}
void CSwitchDlg::OnSelchangeDataBits() {
    Selchange(m_cbDataBits, m_nDataBitsSel, ApplyDataBits);
}

// --- status file -----------------------------------------------------------------------------------------

void CSwitchDlg::OnInitializeStatus() {
    InitializeDefaults(*this);
    UpdateData(FALSE);
    OnSwitch2Status();
}

void CSwitchDlg::OnSaveStatus() {
    CFileDialog dlg(false, "Noname.sts", kSaveFlags, kStatusFilter, "Save current status");
    if (dlg.DoModal() != IDOK) return;
    UpdateData(TRUE);
    OnSwitch2Status();
    std::string error;
    if (!SaveStatusFile(dlg.GetPathName(), *this, error)) AfxMessageBox(error, MB_ICONEXCLAMATION);
}

void CSwitchDlg::OnLoadStatus() {
    CFileDialog dlg(true, "*.sts", kLoadFlags, kStatusFilter, "Load saved status");
    if (dlg.DoModal() != IDOK) return;
    const std::string name = dlg.GetFileName();
    if (name.size() < 3 || name.compare(name.size() - 3, 3, "sts") != 0) {
        AfxMessageBox("Wrong format files loaded.", MB_ICONEXCLAMATION);
        return;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadStatusFile(dlg.GetPathName(), bytes, error)) {
        AfxMessageBox(error, MB_ICONEXCLAMATION);
        return;
    }
    SwitchModel loaded = *this;
    if (!DecodeStatus(bytes, loaded)) {
        AfxMessageBox("Wrong format files loaded.", MB_ICONEXCLAMATION);
        return;
    }
    static_cast<SwitchModel&>(*this) = loaded;
    for (int row = 0; row < 8; ++row) m_nPin[row] = m_sw9[row];
    UpdateData(FALSE);
    OnSwitch2Status();
    GetDlgItem(IDC_SET_STATUS)->EnableWindow(TRUE);
    EnableSettingControls(TRUE);
}

} // namespace pw
