// The dialog framework: CDialog with modal runs, data exchange and message maps, over a window backend that
// builds the real widgets (framework/qt/). Dialogs written on it read one-to-one against their descriptions.
#pragma once

#include "framework/dialog_template.h"
#include "framework/message_box.h"
#include "framework/resources.h"
#include "framework/worker.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pw {

using BOOL = int;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Notifications.
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int CBN_DROPDOWN = 7; // a combo box's list is about to show
// A control's tooltip is about to show: the handler may bring its text up to date.
constexpr int TTN_NEEDTEXT = -520;

constexpr int CB_ERR = -1;

class CDialog;
struct WorkerRun;

// One realised dialog window. The framework talks to widgets only through this.
class DialogWindow {
  public:
    virtual ~DialogWindow() = default;
    virtual bool HasControl(int id) const = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) const = 0;
    virtual std::string GetControlText(int id) const = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual int GetCheck(int id) const = 0;
    virtual void SetCheck(int id, int checked) = 0;
    virtual int ComboGetCurSel(int id) const = 0;
    virtual void ComboSetCurSel(int id, int index) = 0;
    virtual int ComboGetCount(int id) const = 0;
    virtual std::string ComboGetLBText(int id, int index) const = 0;
    // Tooltips, plain text: of a control, and of one item of a combo box's list. Empty removes one. A
    // backend without tooltips may ignore them.
    virtual void SetControlTip(int /*id*/, const std::string& /*text*/) {}
    virtual void ComboSetItemTip(int /*id*/, int /*index*/, const std::string& /*text*/) {}
    virtual void ProgressSetRange(int id, int lower, int upper) = 0;
    virtual void ProgressSetStep(int id, int step) = 0;
    virtual void ProgressStepIt(int id) = 0;
    virtual void ProgressSetPos(int id, int pos) = 0;
    virtual int ProgressGetPos(int id) const = 0;
    virtual void SetCaption(const std::string& text) = 0;
    // The dialog's own menu of system commands (separator when text is empty).
    virtual void AppendSystemMenu(unsigned commandId, const std::string& text) = 0;
    virtual void Show() = 0;
    // Runs the dialog modally: once the window and its controls are up, and before it shows, calls the
    // dialog's HandleInitDialog; unless that ended the dialog, runs until EndModal.
    virtual void RunModal() = 0;
    virtual void EndModal(int result) = 0;

    // While a worker runs (CDialog::RunWorker). Runs the window's event loop until QuitBusyLoop: the window
    // repaints, moves and answers the window manager, its controls take no input, and Escape and closing
    // the window (close box, Alt+F4) become the Cancel command.
    virtual void RunBusyLoop() = 0;
    virtual void QuitBusyLoop() = 0;
    // From any thread: makes the window's thread call the dialog's RunPosted soon, from its event loop.
    virtual void WakeForPosted() = 0;
    // Queues the Cancel command for the window's event loop, after the handler now running.
    virtual void PostCancel() = 0;
    // The control that has the keyboard focus (0: none of them). Focus back on one: where it cannot go (it
    // is disabled or gone), to the default button when it is enabled, otherwise to no push button.
    virtual int FocusedControl() const = 0;
    virtual void RestoreFocus(int id) = 0;
    // The focus to the first enabled control with a tab stop, as after OnInitDialog returns TRUE.
    virtual void FocusFirstTabStop() = 0;
};

using WindowFactory = std::function<std::unique_ptr<DialogWindow>(CDialog&, const DialogTemplate&)>;
// Returns the factory it replaces (a test may wrap the backend's windows).
WindowFactory SetWindowFactory(WindowFactory factory);

// Tests answer modal dialogs here: each DoModal, once its window is up and initialised, calls the next
// handler instead of running a loop of its own. A dialog the handler leaves open ends with IDCANCEL.
using ModalHandler = std::function<void(CDialog&)>;
void PushModalHandler(ModalHandler handler);
void ClearModalHandlers();
std::size_t PendingModalHandlers();

// Ends the process at once, as "Exit" and a refused start-up do; with the stop status once one is set.
[[noreturn]] void AfxExitProcess(int status);
// The program was told to stop from outside (a signal) and closes its windows for it: however it then ends,
// its exit status is `status` (128 + the signal). 0 until then.
void SetStopStatus(int status);
int StopStatus();

class CDataExchange {
  public:
    CDataExchange(CDialog* dlg, BOOL save) : m_pDlgWnd(dlg), m_bSaveAndValidate(save) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// A control of a realised dialog, reached by id.
class CWnd {
  public:
    CWnd() = default;
    CWnd(CDialog* dlg, int id) : m_dlg(dlg), m_id(id) {}
    void Attach(CDialog* dlg, int id) { m_dlg = dlg, m_id = id; }
    int GetDlgCtrlID() const { return m_id; }
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    void SetToolTip(const std::string& text);
    explicit operator bool() const;

  protected:
    DialogWindow* Window() const;
    CDialog* m_dlg = nullptr;
    int m_id = 0;
};

class CButton : public CWnd {
  public:
    using CWnd::CWnd;
    int GetCheck() const;
    void SetCheck(int checked);
};

class CComboBox : public CWnd {
  public:
    using CWnd::CWnd;
    int GetCurSel() const;
    int SetCurSel(int index);
    int GetCount() const;
    std::string GetLBText(int index) const;
    // The tooltip of one item of the list.
    void SetItemTip(int index, const std::string& text);
};

class CProgressCtrl : public CWnd {
  public:
    using CWnd::CWnd;
    void SetRange(int lower, int upper);
    void SetStep(int step);
    void StepIt();
    void SetPos(int pos);
    int GetPos() const;
};

class CDialog {
  public:
    explicit CDialog(int templateId);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    int DoModal();
    void EndDialog(int result);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    CWnd* GetDlgItem(int id);
    virtual BOOL DestroyWindow();

    // Called by the backend once the window and its controls are up: OnInitDialog, then a test's modal
    // handler when one waits.
    void HandleInitDialog();
    // Called by the backend: a control's notification and a system command. While a worker runs they are
    // refused (a tooltip's request for its text excepted).
    void Notify(int id, int code);
    void SysCommand(unsigned nID, long lParam);
    virtual void OnSysCommand(unsigned nID, long lParam);
    // OK and Cancel commands (Enter with no push button focused, Escape, the close box). While a worker
    // runs, Cancel asks it to stop and is carried out once it has ended; OK is refused.
    void Command(int id);

    // Runs `work` on a worker of `threads` while the window keeps its event loop and takes no input (see
    // DialogWindow::RunBusyLoop). Returns once the work has ended, the focus back where it was: true, or
    // false when the user closed the window meanwhile; the work was asked to stop, and the close follows
    // once the handler now running has returned. False at once, too, when no worker could be started: the
    // work never ran. `work` reaches the window only through CallOnUiThread and PostToUiThread.
    bool RunWorker(DialogWorkers& threads, const std::function<void()>& work);
    // Called by the backend on the window's thread after WakeForPosted: runs the worker's queued calls.
    void RunPosted();

    const DialogTemplate& Template() const { return *m_template; }
    DialogWindow* Window() const { return m_window.get(); }
    bool IsWindowUp() const { return m_window != nullptr; }

  protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    // The dialog's message map: runs the handler for (id, code) and says whether there was one.
    virtual bool Dispatch(int id, int code);

  private:
    int m_templateId;
    const DialogTemplate* m_template = nullptr; // looked up when the dialog runs
    std::unique_ptr<DialogWindow> m_window;
    std::vector<std::unique_ptr<CWnd>> m_items;
    bool m_ended = false;
    int m_result = IDCANCEL;
    WorkerRun* m_work = nullptr; // while RunWorker runs
};

// A message map entry: control id, notification, member function.
template <class D> struct MessageMapEntry {
    int id;
    int code;
    void (D::*handler)();
};

template <class D, std::size_t N>
bool DispatchMessageMap(D& dlg, const MessageMapEntry<D> (&map)[N], int id, int code) {
    for (const auto& e : map)
        if (e.id == id && e.code == code) {
            (dlg.*e.handler)();
            return true;
        }
    return false;
}

// Dialog data exchange. Combo index and radio values are -1 for no selection.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
void DDX_Text(CDataExchange* pDX, int id, std::string& text);

} // namespace pw
