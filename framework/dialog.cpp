#include "framework/dialog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <stdexcept>
#include <utility>

namespace pw {

namespace {
WindowFactory& Factory() {
    static WindowFactory factory;
    return factory;
}
std::deque<ModalHandler>& Handlers() {
    static std::deque<ModalHandler> handlers;
    return handlers;
}
} // namespace

WindowFactory SetWindowFactory(WindowFactory factory) {
    return std::exchange(Factory(), std::move(factory));
}
void PushModalHandler(ModalHandler handler) {
    Handlers().push_back(std::move(handler));
}
void ClearModalHandlers() {
    Handlers().clear();
}
std::size_t PendingModalHandlers() {
    return Handlers().size();
}

namespace {
std::atomic<int> stopStatus{0};
} // namespace

void SetStopStatus(int status) {
    stopStatus.store(status);
}

int StopStatus() {
    return stopStatus.load();
}

void AfxExitProcess(int status) {
    std::fflush(nullptr);
    const int stop = StopStatus();
    std::exit(stop != 0 ? stop : status);
}

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    for (const auto& c : controls)
        if (c.id == controlId) return &c;
    return nullptr;
}

std::vector<int> DialogTemplate::RadioGroup(int firstId) const {
    std::vector<int> ids;
    bool inGroup = false;
    for (const auto& c : controls) {
        if (!inGroup) {
            if (c.id != firstId) continue;
            inGroup = true;
        } else if (c.group) {
            break;
        }
        if (c.kind == ControlKind::AutoRadio) ids.push_back(c.id);
    }
    return ids;
}

// --- controls --------------------------------------------------------------------------------------------

DialogWindow* CWnd::Window() const {
    return m_dlg ? m_dlg->Window() : nullptr;
}
CWnd::operator bool() const {
    return Window() && Window()->HasControl(m_id);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    DialogWindow* w = Window();
    if (!w) return FALSE;
    BOOL wasDisabled = !w->IsControlEnabled(m_id);
    w->EnableControl(m_id, enable != FALSE);
    return wasDisabled;
}
BOOL CWnd::IsWindowEnabled() const {
    return Window() && Window()->IsControlEnabled(m_id);
}
void CWnd::SetWindowText(const std::string& text) {
    if (auto* w = Window()) w->SetControlText(m_id, text);
}
std::string CWnd::GetWindowText() const {
    return Window() ? Window()->GetControlText(m_id) : std::string();
}
void CWnd::SetToolTip(const std::string& text) {
    if (auto* w = Window()) w->SetControlTip(m_id, text);
}

int CButton::GetCheck() const {
    return Window() ? Window()->GetCheck(m_id) : 0;
}
void CButton::SetCheck(int checked) {
    if (auto* w = Window()) w->SetCheck(m_id, checked);
}

int CComboBox::GetCurSel() const {
    return Window() ? Window()->ComboGetCurSel(m_id) : CB_ERR;
}
int CComboBox::SetCurSel(int index) {
    DialogWindow* w = Window();
    if (!w) return CB_ERR;
    w->ComboSetCurSel(m_id, index);
    return (index >= 0 && index < w->ComboGetCount(m_id)) ? index : CB_ERR;
}
int CComboBox::GetCount() const {
    return Window() ? Window()->ComboGetCount(m_id) : 0;
}
std::string CComboBox::GetLBText(int index) const {
    return Window() ? Window()->ComboGetLBText(m_id, index) : std::string();
}
void CComboBox::SetItemTip(int index, const std::string& text) {
    if (auto* w = Window()) w->ComboSetItemTip(m_id, index, text);
}

void CProgressCtrl::SetRange(int lower, int upper) {
    if (auto* w = Window()) w->ProgressSetRange(m_id, lower, upper);
}
void CProgressCtrl::SetStep(int step) {
    if (auto* w = Window()) w->ProgressSetStep(m_id, step);
}
void CProgressCtrl::StepIt() {
    if (auto* w = Window()) w->ProgressStepIt(m_id);
}
void CProgressCtrl::SetPos(int pos) {
    if (auto* w = Window()) w->ProgressSetPos(m_id, pos);
}
int CProgressCtrl::GetPos() const {
    return Window() ? Window()->ProgressGetPos(m_id) : 0;
}

// --- dialog ----------------------------------------------------------------------------------------------

CDialog::CDialog(int templateId) : m_templateId(templateId) {}
CDialog::~CDialog() = default;

int CDialog::DoModal() {
    if (!Factory()) throw std::logic_error("no window backend installed");
    m_template = &FindDialogTemplate(m_templateId);
    m_ended = false;
    m_result = IDCANCEL;
    m_window = Factory()(*this, *m_template);
    m_window->RunModal();
    DestroyWindow();
    return m_ended ? m_result : IDCANCEL;
}

void CDialog::HandleInitDialog() {
    const BOOL focusFirst = OnInitDialog();
    if (m_ended) return;
    if (focusFirst) m_window->FocusFirstTabStop();
    if (Handlers().empty()) return;
    ModalHandler handler = std::move(Handlers().front());
    Handlers().pop_front();
    m_window->Show();
    handler(*this);
    if (!m_ended) EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result) {
    m_ended = true;
    m_result = result;
    if (m_window) m_window->EndModal(result);
}

BOOL CDialog::DestroyWindow() {
    if (!m_window) return FALSE;
    m_items.clear();
    m_window.reset();
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    if (!m_window) return FALSE;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool CDialog::Dispatch(int, int) {
    return false;
}

CWnd* CDialog::GetDlgItem(int id) {
    if (!m_window || !m_window->HasControl(id)) return nullptr;
    for (auto& item : m_items)
        if (item->GetDlgCtrlID() == id) return item.get();
    m_items.push_back(std::make_unique<CWnd>(this, id));
    return m_items.back().get();
}

void CDialog::Notify(int id, int code) {
    if (m_work && code != TTN_NEEDTEXT) return; // no input while a worker runs
    if (Dispatch(id, code)) return;
    if (code == BN_CLICKED) Command(id);
}

void CDialog::SysCommand(unsigned nID, long lParam) {
    if (!m_work) OnSysCommand(nID, lParam);
}

void CDialog::OnSysCommand(unsigned, long) {}

// --- data exchange ---------------------------------------------------------------------------------------

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    control.Attach(pDX->m_pDlgWnd, id);
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index) {
    DialogWindow* w = pDX->m_pDlgWnd->Window();
    if (pDX->m_bSaveAndValidate)
        index = w->ComboGetCurSel(id);
    else
        w->ComboSetCurSel(id, index);
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value) {
    DialogWindow* w = pDX->m_pDlgWnd->Window();
    const std::vector<int> group = pDX->m_pDlgWnd->Template().RadioGroup(firstId);
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (std::size_t i = 0; i < group.size(); ++i)
            if (w->GetCheck(group[i])) {
                value = static_cast<int>(i);
                break;
            }
    } else {
        for (std::size_t i = 0; i < group.size(); ++i) w->SetCheck(group[i], static_cast<int>(i) == value);
    }
}

void DDX_Text(CDataExchange* pDX, int id, std::string& text) {
    DialogWindow* w = pDX->m_pDlgWnd->Window();
    if (pDX->m_bSaveAndValidate)
        text = w->GetControlText(id);
    else
        w->SetControlText(id, text);
}

} // namespace pw
