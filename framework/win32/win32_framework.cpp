#include "framework/win32/win32_framework.h"

#include "framework/dialog.h"
#include "framework/file_dialog.h"
#include "framework/resources.h"
#include "framework/win32/dialog_template_builder.h"
#include "link/win32/wide_text.h"

#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

namespace {
// The framework's notification codes, taken before windows.h turns their names into macros.
constexpr int kClicked = pw::BN_CLICKED;
constexpr int kSelChange = pw::CBN_SELCHANGE;
constexpr int kDropDown = pw::CBN_DROPDOWN;
constexpr int kNeedText = pw::TTN_NEEDTEXT;
constexpr int kOk = pw::IDOK;
constexpr int kCancel = pw::IDCANCEL;
constexpr unsigned kPostedMessage = 0x8000 + 0x51; // WM_APP + 0x51: the worker queued calls
} // namespace

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>

#include "framework/win32/native_file_dialog.h"

// They are the same numbers as Win32's, so native notifications pass through unchanged.
static_assert(kClicked == BN_CLICKED && kSelChange == CBN_SELCHANGE && kDropDown == CBN_DROPDOWN);
static_assert(kOk == IDOK && kCancel == IDCANCEL);

namespace pw::win32 {

namespace {

class Win32DialogWindow;

// The dialogs now running, innermost last.
std::vector<Win32DialogWindow*>& Running() {
    static std::vector<Win32DialogWindow*> running;
    return running;
}

HWND ModalOwner();

bool IsComboBox(HWND h) {
    wchar_t name[16] = {};
    return ::GetClassNameW(h, name, 16) && ::lstrcmpiW(name, L"ComboBox") == 0;
}

bool IsPushButton(HWND h) {
    wchar_t name[16] = {};
    if (!::GetClassNameW(h, name, 16) || ::lstrcmpiW(name, L"Button") != 0) return false;
    const LONG_PTR type = ::GetWindowLongPtrW(h, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

class Win32DialogWindow final : public DialogWindow {
  public:
    Win32DialogWindow(CDialog& dlg, const DialogTemplate& t) : m_dlg(dlg), m_t(t) {
        for (const auto& c : t.controls)
            if (c.kind == ControlKind::DefPushButton) m_defaultId = c.id;
    }
    ~Win32DialogWindow() override { std::erase(Running(), this); }

    HWND Handle() const { return m_hwnd; }

    bool HasControl(int id) const override { return Item(id) != nullptr; }
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) const override {
        HWND h = Item(id);
        return h && ::IsWindowEnabled(h);
    }
    std::string GetControlText(int id) const override { return WindowText(Item(id)); }
    void SetControlText(int id, const std::string& text) override {
        if (HWND h = Item(id)) ::SetWindowTextW(h, Widen(text).c_str());
    }
    int GetCheck(int id) const override { return Send(id, BM_GETCHECK) == BST_CHECKED ? 1 : 0; }
    void SetCheck(int id, int checked) override {
        Send(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    int ComboGetCurSel(int id) const override {
        return Item(id) ? static_cast<int>(Send(id, CB_GETCURSEL)) : CB_ERR;
    }
    void ComboSetCurSel(int id, int index) override { Send(id, CB_SETCURSEL, static_cast<WPARAM>(index)); }
    int ComboGetCount(int id) const override {
        return Item(id) ? static_cast<int>(Send(id, CB_GETCOUNT)) : 0;
    }
    std::string ComboGetLBText(int id, int index) const override;
    void SetControlTip(int id, const std::string& text) override;
    // The items of a dropped list have no tips on Windows: the control's own tip names the selected one.
    void ComboSetItemTip(int, int, const std::string&) override {}
    void ProgressSetRange(int id, int lower, int upper) override { Send(id, PBM_SETRANGE32, lower, upper); }
    void ProgressSetStep(int id, int step) override { Send(id, PBM_SETSTEP, static_cast<WPARAM>(step)); }
    void ProgressStepIt(int id) override { Send(id, PBM_STEPIT); }
    void ProgressSetPos(int id, int pos) override { Send(id, PBM_SETPOS, static_cast<WPARAM>(pos)); }
    int ProgressGetPos(int id) const override {
        return Item(id) ? static_cast<int>(Send(id, PBM_GETPOS)) : 0;
    }
    void SetCaption(const std::string& text) override {
        if (m_hwnd) ::SetWindowTextW(m_hwnd, Widen(text).c_str());
    }
    void AppendSystemMenu(unsigned commandId, const std::string& text) override;
    void Show() override {
        if (m_hwnd) ::ShowWindow(m_hwnd, SW_SHOW);
    }
    void RunModal() override;
    void EndModal(int result) override {
        m_ended = true;
        if (m_hwnd) ::EndDialog(m_hwnd, result);
    }
    void RunBusyLoop() override;
    void QuitBusyLoop() override { m_busyQuit = true; }
    void WakeForPosted() override { ::PostMessageW(m_hwnd, kPostedMessage, 0, 0); }
    void PostCancel() override { ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0); }
    int FocusedControl() const override;
    void RestoreFocus(int id) override;
    void FocusFirstTabStop() override {
        if (HWND first = m_hwnd ? ::GetNextDlgTabItem(m_hwnd, nullptr, FALSE) : nullptr)
            ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }

    // Enter, seen before the dialog manager, as the dialog manager does it: the focused push button; with
    // none focused, the default button when it is enabled; IDOK in a dialog without one. A dropped list
    // keeps Enter for itself.
    bool TakeEnter(HWND target);
    // Back to a window that had the focus (after a message box): where it cannot go, as RestoreFocus.
    void FocusBack(HWND h);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void InitWindow();
    void OnNotify(NMHDR* hdr);
    // The framework's notification for a native WM_COMMAND, or -1 for one it does not take.
    int FrameworkCode(int id, int code, HWND control) const;

    HWND Item(int id) const { return m_hwnd && id != IDC_STATIC ? ::GetDlgItem(m_hwnd, id) : nullptr; }
    LRESULT Send(int id, UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
        HWND h = Item(id);
        return h ? ::SendMessageW(h, msg, wp, lp) : 0;
    }
    static std::string WindowText(HWND h);
    // User input to this dialog, which a busy window refuses; Escape becomes the Cancel command. Alt+F4,
    // the close box and the caption stay the system's.
    bool RefuseInput(const MSG& msg);
    // The focus leaves `leaving`: to the default button when it is enabled, otherwise to the dialog itself,
    // so that it never lands on a push button by itself.
    void FocusAway(HWND leaving);
    void FocusDialog() {
        m_focusOnDialog = true;
        ::SetFocus(m_hwnd);
    }

    CDialog& m_dlg;
    const DialogTemplate& m_t;
    HWND m_hwnd = nullptr;
    HWND m_tips = nullptr;
    std::map<int, std::wstring> m_tipTexts;
    int m_defaultId = 0;
    bool m_ended = false;
    bool m_busy = false, m_busyQuit = false;
    bool m_focusOnDialog = false; // the dialog itself holds the focus, none of its controls
};

std::string Win32DialogWindow::WindowText(HWND h) {
    if (!h) return {};
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

std::string Win32DialogWindow::ComboGetLBText(int id, int index) const {
    const LRESULT n = Send(id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (!Item(id) || n == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const LRESULT got =
        Send(id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : static_cast<std::size_t>(got));
    return Narrow(text);
}

void Win32DialogWindow::EnableControl(int id, bool enable) {
    HWND h = Item(id);
    if (!h) return;
    if (HWND f = ::GetFocus(); !enable && f && (f == h || ::IsChild(h, f))) FocusAway(h);
    ::EnableWindow(h, enable);
}

void Win32DialogWindow::FocusAway(HWND leaving) {
    HWND def = m_defaultId ? Item(m_defaultId) : nullptr;
    if (def && def != leaving && ::IsWindowEnabled(def))
        ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(def), TRUE);
    else
        FocusDialog();
}

int Win32DialogWindow::FocusedControl() const {
    HWND f = ::GetFocus();
    if (!m_hwnd || !f || !::IsChild(m_hwnd, f)) return 0;
    while (::GetParent(f) != m_hwnd) f = ::GetParent(f); // the edit field of a combo box is the box's
    return ::GetDlgCtrlID(f);
}

void Win32DialogWindow::RestoreFocus(int id) {
    if (!m_hwnd || ::GetActiveWindow() != m_hwnd) return; // the window gets it back when activated
    HWND h = id ? Item(id) : nullptr;
    if (h && ::IsWindowEnabled(h)) {
        if (FocusedControl() != id) ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
    } else if (HWND f = ::GetFocus(); !f || (f != m_hwnd && !::IsWindowEnabled(f))) {
        FocusAway(h);
    }
}

void Win32DialogWindow::FocusBack(HWND h) {
    if (h == m_hwnd) {
        FocusDialog();
    } else if (::IsWindow(h) && ::IsChild(m_hwnd, h) && ::IsWindowEnabled(h)) {
        ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
    }
}

bool Win32DialogWindow::RefuseInput(const MSG& msg) {
    if (!msg.hwnd || (msg.hwnd != m_hwnd && !::IsChild(m_hwnd, msg.hwnd))) return false;
    const UINT m = msg.message;
    if (m == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        m_dlg.Command(kCancel);
        return true;
    }
    if (m == WM_SYSKEYDOWN && msg.wParam == VK_F4) return false; // Alt+F4 closes, through the system
    if (m >= WM_KEYFIRST && m <= WM_KEYLAST) return true;
    return m >= WM_MOUSEFIRST && m <= WM_MOUSELAST && m != WM_MOUSEMOVE;
}

void Win32DialogWindow::RunBusyLoop() {
    m_busy = true;
    m_busyQuit = false;
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (!m_busyQuit) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) { // the program is asked to end: that waits for the work, and is passed on after it
            quit = true;
            quitCode = msg.wParam;
            continue;
        }
        if (RefuseInput(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    m_busy = false;
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

void Win32DialogWindow::SetControlTip(int id, const std::string& text) {
    HWND h = Item(id);
    if (!h) return;
    if (!m_tips) {
        m_tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr, ::GetModuleHandleW(nullptr),
                                   nullptr);
        if (!m_tips) return;
        // Wide enough for a device path on one line; line breaks in the text are kept.
        ::SendMessageW(m_tips, TTM_SETMAXTIPWIDTH, 0, 800);
    }
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = m_hwnd;
    ti.uId = reinterpret_cast<UINT_PTR>(h);
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    const bool hadTip = m_tipTexts.count(id) != 0;
    if (text.empty()) {
        if (hadTip) ::SendMessageW(m_tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        m_tipTexts.erase(id);
        return;
    }
    m_tipTexts[id] = Widen(text);
    if (!hadTip) ::SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void Win32DialogWindow::AppendSystemMenu(unsigned commandId, const std::string& text) {
    HMENU menu = m_hwnd ? ::GetSystemMenu(m_hwnd, FALSE) : nullptr;
    if (!menu) return;
    if (text.empty())
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    else
        ::AppendMenuW(menu, MF_STRING, commandId, Widen(text).c_str());
}

void Win32DialogWindow::RunModal() {
    const std::vector<std::uint32_t> bytes = BuildDialogTemplate(m_t, AppIcon().id);
    const INT_PTR r = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr),
                                                reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), ModalOwner(),
                                                DialogProc, reinterpret_cast<LPARAM>(this));
    if (r == -1)
        std::fprintf(stderr, "pinwright: dialog %d could not be created (Windows error %lu)\n", m_t.id,
                     ::GetLastError());
    std::erase(Running(), this);
    m_hwnd = nullptr;
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32DialogWindow*>(lp);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        self->m_hwnd = hwnd;
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    return self ? self->OnMessage(msg, wp, lp) : FALSE;
}

void Win32DialogWindow::InitWindow() {
    Running().push_back(this);
    // The lists, as the dialog's initialisation data fills them.
    for (const auto& c : m_t.controls) {
        HWND h = Item(c.id);
        if (!h) continue;
        for (const auto& item : c.items)
            ::SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
    }
    // Every window of the program carries the application icon.
    if (const int icon = AppIcon().id) {
        HINSTANCE module = ::GetModuleHandleW(nullptr);
        for (auto [which, cx, cy] :
             {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}, std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
            HANDLE h = ::LoadImageW(module, MAKEINTRESOURCEW(icon), IMAGE_ICON, ::GetSystemMetrics(cx),
                                    ::GetSystemMetrics(cy), LR_SHARED);
            if (h) ::SendMessageW(m_hwnd, WM_SETICON, which, reinterpret_cast<LPARAM>(h));
        }
    }
}

INT_PTR Win32DialogWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        InitWindow();
        m_dlg.HandleInitDialog();
        return TRUE; // the focus goes to the first control with a tab stop
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        const int code = FrameworkCode(id, HIWORD(wp), reinterpret_cast<HWND>(lp));
        if (code != -1) m_dlg.Notify(id, code);
        return TRUE;
    }
    case DM_GETDEFID:
        ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, m_defaultId ? MAKELONG(m_defaultId, DC_HASDEFID) : 0);
        return TRUE;
    case WM_CLOSE:
        m_dlg.Command(kCancel); // the close box: the dialog decides, as the Cancel command does
        return TRUE;
    case WM_SYSCOMMAND:
        // The commands the dialog appended are its own; the system's (SC_*) keep their default handling.
        if ((wp & 0xFFF0) >= SC_SIZE) return FALSE;
        m_dlg.SysCommand(static_cast<unsigned>(wp), static_cast<long>(lp));
        return TRUE;
    case kPostedMessage:
        m_dlg.RunPosted();
        return TRUE;
    case WM_SETFOCUS:
        // The dialog manager would hand the focus on to a control; it stays here when it was put here.
        return m_focusOnDialog ? TRUE : FALSE;
    case WM_KILLFOCUS:
        if (wp && ::IsChild(m_hwnd, reinterpret_cast<HWND>(wp))) m_focusOnDialog = false;
        return FALSE;
    case WM_SETCURSOR:
        if (!m_busy || LOWORD(lp) != HTCLIENT) return FALSE;
        ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_APPSTARTING)));
        ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_NOTIFY:
        OnNotify(reinterpret_cast<NMHDR*>(lp));
        return TRUE;
    case WM_NCDESTROY:
        std::erase(Running(), this);
        m_hwnd = nullptr;
        m_tips = nullptr; // an owned window: gone with its owner
        return FALSE;
    default:
        return FALSE;
    }
}

int Win32DialogWindow::FrameworkCode(int id, int code, HWND control) const {
    // Menus, accelerators and the dialog manager's IDOK and IDCANCEL come without a control.
    if (!control) return code <= 1 ? kClicked : -1;
    const ControlTemplate* c = m_t.Find(id);
    if (!c) return -1;
    if (c->kind == ControlKind::ComboDropList || c->kind == ControlKind::ComboDropDown)
        return code == CBN_SELCHANGE ? kSelChange : code == CBN_DROPDOWN ? kDropDown : -1;
    return code == BN_CLICKED ? kClicked : -1;
}

void Win32DialogWindow::OnNotify(NMHDR* hdr) {
    if (!m_tips || hdr->hwndFrom != m_tips || hdr->code != TTN_GETDISPINFOW) return;
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(hdr);
    const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(hdr->idFrom));
    m_dlg.Notify(id, kNeedText); // the dialog may bring the text up to date first
    auto it = m_tipTexts.find(id);
    static wchar_t empty[] = L"";
    info->lpszText = it != m_tipTexts.end() ? it->second.data() : empty;
}

bool Win32DialogWindow::TakeEnter(HWND target) {
    for (HWND h = target; h && h != m_hwnd; h = ::GetParent(h))
        if (IsComboBox(h) && ::SendMessageW(h, CB_GETDROPPEDSTATE, 0, 0)) return false;
    if (::GetKeyState(VK_CONTROL) < 0) return true; // Ctrl+Enter does nothing
    if (HWND focus = ::GetFocus(); focus && ::IsChild(m_hwnd, focus) && IsPushButton(focus)) {
        if (::IsWindowEnabled(focus))
            ::SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(focus), BN_CLICKED),
                           reinterpret_cast<LPARAM>(focus));
        return true;
    }
    if (m_defaultId) {
        HWND def = ::GetDlgItem(m_hwnd, m_defaultId);
        if (def && ::IsWindowEnabled(def))
            ::SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(m_defaultId, BN_CLICKED),
                           reinterpret_cast<LPARAM>(def));
    } else {
        ::SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return true;
}

Win32DialogWindow* RunningDialogOf(HWND h) {
    HWND root = h ? ::GetAncestor(h, GA_ROOT) : nullptr;
    for (Win32DialogWindow* w : Running())
        if (w->Handle() && w->Handle() == root) return w;
    return nullptr;
}

// Owner of a new modal window: the innermost running dialog that shows, so that it waits for it; none
// while the program has no window showing yet (the communication dialog at start-up stands alone).
HWND ModalOwner() {
    for (auto it = Running().rbegin(); it != Running().rend(); ++it)
        if ((*it)->Handle() && ::IsWindowVisible((*it)->Handle())) return (*it)->Handle();
    return nullptr;
}

// Every dialog message passes here before the dialog manager sees it (IsDialogMessage calls the message
// filter first).
LRESULT CALLBACK MessageFilter(int code, WPARAM wp, LPARAM lp) {
    if (code == MSGF_DIALOGBOX) {
        const MSG* msg = reinterpret_cast<const MSG*>(lp);
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN)
            if (Win32DialogWindow* w = RunningDialogOf(msg->hwnd); w && w->TakeEnter(msg->hwnd)) return 1;
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

int ShowMessageBox(const std::string& text, unsigned type, const std::string& detail) {
    std::wstring body = Widen(text);
    if (!detail.empty()) body += L"\n\n" + Widen(detail);
    HWND owner = ModalOwner();
    HWND focus = ::GetFocus();
    ::MessageBoxW(owner, body.c_str(), ProgramName().c_str(), MB_OK | (type & MB_ICONMASK));
    // The focus goes back where it was, not to a push button of the dialog manager's choosing.
    if (Win32DialogWindow* w = RunningDialogOf(focus); w && w->Handle() == owner) w->FocusBack(focus);
    return IDOK;
}

FileDialogAnswer ShowFileDialog(const FileDialogRequest& request) {
    NativeFileDialog dlg(request, ModalOwner());
    return dlg.Run();
}

} // namespace

void InstallWin32Framework() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    static HHOOK filter = ::SetWindowsHookExW(WH_MSGFILTER, MessageFilter, nullptr, ::GetCurrentThreadId());
    (void)filter;
    SetWindowFactory([](CDialog& dlg, const DialogTemplate& t) -> std::unique_ptr<DialogWindow> {
        return std::make_unique<Win32DialogWindow>(dlg, t);
    });
    SetMessageBoxPresenter(ShowMessageBox);
    SetFileDialogPresenter(ShowFileDialog);
}

HWND DialogHandle(CDialog& dlg) {
    auto* w = dynamic_cast<Win32DialogWindow*>(dlg.Window());
    return w ? w->Handle() : nullptr;
}

HWND ControlHandle(CDialog& dlg, int id) {
    HWND h = DialogHandle(dlg);
    return h && id != IDC_STATIC ? ::GetDlgItem(h, id) : nullptr;
}

std::wstring ProgramName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n);
    if (auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos) name.erase(0, slash + 1);
    if (auto dot = name.rfind(L'.'); dot != std::wstring::npos) name.erase(dot);
    return name;
}

} // namespace pw::win32
