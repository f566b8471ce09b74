#include "dialogs/comm_dlg.h"

#include "link/port_info.h"
#include "protocol/commands.h"
#include "protocol/connection_check.h"
#include "res/resource.h"

#include <cstdlib>

namespace pw {

namespace {
const MessageMapEntry<CCommDlg> kMessageMap[] = {
    {IDC_CHECK_COMM, BN_CLICKED, &CCommDlg::OnCheckCommunication},
    {IDC_SELF_TEST1, BN_CLICKED, &CCommDlg::OnSelfTest1},
    {IDC_SELF_TEST2, BN_CLICKED, &CCommDlg::OnSelfTest2},
    {IDC_RUN_MANAGER, BN_CLICKED, &CCommDlg::OnRunManager},
    {IDC_INTERFACE_SERIAL, BN_CLICKED, &CCommDlg::OnInterfaceSerial},
    {IDC_INTERFACE_PARALLEL, BN_CLICKED, &CCommDlg::OnInterfaceParallel},
    {IDC_INTERFACE_USB, BN_CLICKED, &CCommDlg::OnInterfaceUsb},
    {IDC_COM_PORT, CBN_SELCHANGE, &CCommDlg::OnSettingChanged},
    {IDC_COMM_BAUD, CBN_SELCHANGE, &CCommDlg::OnSettingChanged},
    {IDC_COMM_DATABITS, CBN_SELCHANGE, &CCommDlg::OnSettingChanged},
    {IDC_COMM_PARITY, CBN_SELCHANGE, &CCommDlg::OnSettingChanged},
    {IDC_COMM_STOPBITS, CBN_SELCHANGE, &CCommDlg::OnSettingChanged},
    // Devices come and go: the descriptions are looked up again whenever one is about to show.
    {IDC_COM_PORT, CBN_DROPDOWN, &CCommDlg::OnPortTips},
    {IDC_LPT_PORT, CBN_DROPDOWN, &CCommDlg::OnPortTips},
    {IDC_COM_PORT, TTN_NEEDTEXT, &CCommDlg::OnPortTips},
    {IDC_LPT_PORT, TTN_NEEDTEXT, &CCommDlg::OnPortTips},
    {IDC_INTERFACE_USB, TTN_NEEDTEXT, &CCommDlg::OnPortTips},
};

constexpr std::int32_t kBaudRates[] = {9600, 19200, 38400, 57600, 115200};
} // namespace

CCommDlg::CCommDlg(DeviceServices& services)
    : CDialog(IDD_COMM_DIALOG), m_printerWork(services), m_port(m_printerWork.Services()) {
    m_port.m_onProblem = [](const std::string& text, const std::string& detail) {
        PrinterWork::Message(text, MB_OK, detail);
    };
}

bool CCommDlg::Dispatch(int id, int code) {
    return DispatchMessageMap(*this, kMessageMap, id, code);
}

void CCommDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_LPT_PORT, m_cbLptPort);
    DDX_Control(pDX, IDC_COMM_PARITY, m_cbParity);
    DDX_Control(pDX, IDC_COMM_STOPBITS, m_cbStopBits);
    DDX_Control(pDX, IDC_COMM_DATABITS, m_cbDataBits);
    DDX_Control(pDX, IDC_COMM_BAUD, m_cbBaudRate);
    DDX_Control(pDX, IDC_COM_PORT, m_cbComPort);
    DDX_Radio(pDX, IDC_INTERFACE_SERIAL, m_nInterface);
}

BOOL CCommDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_cbComPort.SetCurSel(0);
    m_cbBaudRate.SetCurSel(0);
    m_cbDataBits.SetCurSel(0);
    m_cbParity.SetCurSel(0);
    m_cbStopBits.SetCurSel(0);
    m_cbLptPort.SetCurSel(0);
    OnPortTips();
    return TRUE;
}

namespace {
// What the port stands for and, when this user may not open it, what to do about that.
std::string PortTip(const PortInfo& info) {
    const std::string access = PortAccessText(info);
    return access.empty() ? PortInfoText(info) : PortInfoText(info) + ". " + access;
}
} // namespace

void CCommDlg::OnPortTips() {
    for (CComboBox* cb : {&m_cbComPort, &m_cbLptPort}) {
        std::vector<std::string> tips;
        for (int i = 0; i < cb->GetCount(); ++i) {
            tips.push_back(PortTip(DescribePort(cb->GetLBText(i))));
            cb->SetItemTip(i, tips.back());
        }
        const int sel = cb->GetCurSel();
        cb->SetToolTip(sel >= 0 && sel < static_cast<int>(tips.size()) ? tips[sel] : std::string());
    }
    GetDlgItem(IDC_INTERFACE_USB)->SetToolTip(PortTip(DescribePort("USB")));
}

void CCommDlg::EnableTestButtons(BOOL bEnable) {
    GetDlgItem(IDC_SELF_TEST1)->EnableWindow(bEnable);
    GetDlgItem(IDC_RUN_MANAGER)->EnableWindow(bEnable);
    // A successful check also offers "Self Test 2": a button the user can see should work.
    GetDlgItem(IDC_SELF_TEST2)->EnableWindow(bEnable);
}

void CCommDlg::EnableInterfaceControls(int kind) {
    for (CComboBox* cb :
         {&m_cbLptPort, &m_cbComPort, &m_cbBaudRate, &m_cbDataBits, &m_cbParity, &m_cbStopBits})
        cb->EnableWindow(FALSE);
    if (kind == kSerial) {
        for (CComboBox* cb : {&m_cbComPort, &m_cbBaudRate, &m_cbDataBits, &m_cbParity, &m_cbStopBits})
            cb->EnableWindow(TRUE);
    } else if (kind == kParallel) {
        m_cbLptPort.EnableWindow(TRUE);
    }
}

void CCommDlg::OnCheckCommunication() {
    UpdateData(TRUE);
    if (m_nInterface == kSerial) {
        m_port.m_strPort = m_cbComPort.GetLBText(m_cbComPort.GetCurSel());
        const int baud = m_cbBaudRate.GetCurSel();
        if (baud >= 0 && baud < 5) m_port.m_nBaudRate = kBaudRates[baud];
        // The data bits item says the byte size; the list offers "8" only, and 8 stays without a choice.
        const int dataBits = m_cbDataBits.GetCurSel();
        m_port.m_nByteSize = dataBits >= 0 ? std::atoi(m_cbDataBits.GetLBText(dataBits).c_str()) : 8;
        if (m_port.m_nByteSize < 5 || m_port.m_nByteSize > 8) m_port.m_nByteSize = 8;
        const int parity = m_cbParity.GetCurSel();
        if (parity >= 0 && parity <= 2) m_port.m_nParity = parity;
        m_port.m_nStopBits = m_cbStopBits.GetCurSel();
    } else if (m_nInterface == kParallel) {
        m_port.m_strPort = m_cbLptPort.GetLBText(m_cbLptPort.GetCurSel());
    } else if (m_nInterface == kUsb) {
        m_port.m_strPort = "USB";
    }

    // Every message of the check also says which device the chosen port stands for.
    const std::string port = PortInfoText(DescribePort(m_port.m_strPort));
    int opened = 0;
    std::string problem;
    HandshakeResult result = HandshakeResult::NoAnswer;
    const bool finished = m_printerWork.Run(*this, m_port, [&] {
        opened = m_port.Open();
        if (!opened)
            problem = m_port.Services().LastOpenProblem();
        else if (!WorkerStopping())
            result = RunConnectionHandshake(m_port, m_nInterface);
    });
    if (!finished) return; // the window was closed meanwhile
    // A check that failed leaves on its button the command that says what stands in the way.
    GetDlgItem(IDC_CHECK_COMM)
        ->SetToolTip(opened && result == HandshakeResult::Connected
                         ? std::string()
                         : "The printer could not be reached on " + m_port.m_strPort +
                               ". To see what stands in "
                               "the way and what to type: pinwright-cli doctor -p " +
                               m_port.m_strPort);
    if (!opened) {
        AfxMessageBox("Can't open port and Printer is disconnected", MB_ICONEXCLAMATION,
                      problem.empty() ? port : port + "\n" + problem);
        return;
    }
    switch (result) {
    case HandshakeResult::PortError:
        AfxMessageBox("Port error! Check printer's port, please.", MB_ICONEXCLAMATION, port);
        return;
    case HandshakeResult::ReadError:
        AfxMessageBox("Read Error", MB_ICONEXCLAMATION, port);
        return;
    case HandshakeResult::NoAnswer:
        AfxMessageBox("Can't connect printer. Please restart printer.", MB_ICONINFORMATION, port);
        return;
    case HandshakeResult::Connected:
        AfxMessageBox("Printer is connected.", MB_ICONINFORMATION, port);
        EnableTestButtons(TRUE);
        GetDlgItem(IDC_CHECK_COMM)->EnableWindow(FALSE);
        return;
    }
}

void CCommDlg::OnSelfTest1() {
    m_printerWork.Run(*this, m_port, [this] { Send(m_port, CMD_SELF_TEST_1); });
}
void CCommDlg::OnSelfTest2() {
    m_printerWork.Run(*this, m_port, [this] { Send(m_port, CMD_SELF_TEST_2); });
}

void CCommDlg::OnInterface(int kind) {
    if (m_port.m_hPort != kNoDevice) {
        EnableTestButtons(FALSE);
        m_port.Close();
        GetDlgItem(IDC_CHECK_COMM)->EnableWindow(TRUE);
    }
    EnableInterfaceControls(kind);
}

void CCommDlg::OnInterfaceSerial() {
    OnInterface(kSerial);
}
void CCommDlg::OnInterfaceParallel() {
    OnInterface(kParallel);
}
void CCommDlg::OnInterfaceUsb() {
    OnInterface(kUsb);
}

void CCommDlg::OnSettingChanged() {
    if (m_port.m_hPort == kNoDevice) return;
    m_port.Close();
    EnableTestButtons(FALSE);
    GetDlgItem(IDC_CHECK_COMM)->EnableWindow(TRUE);
}

void CCommDlg::OnRunManager() {
    OnOK();
}

} // namespace pw
