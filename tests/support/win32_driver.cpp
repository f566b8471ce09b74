// The user at a dialog on the Win32 backend: real messages to the real controls. Keys go through the
// dialog manager (IsDialogMessage), as the modal loop would take them.
#include "framework/win32/win32_framework.h"
#include "tests/support/backend_driver.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace pw::test {

namespace {

HWND Control(CDialog& dlg, int id) {
    HWND h = win32::ControlHandle(dlg, id);
    if (!h) ADD_FAILURE() << "no control " << id;
    return h;
}

// Runs what is queued for the dialog the way its modal loop does.
void Pump(HWND dialog) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (!::IsWindow(dialog) || !::IsDialogMessageW(dialog, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
}

void PressKey(CDialog& dlg, WPARAM key) {
    HWND dialog = win32::DialogHandle(dlg);
    ASSERT_NE(dialog, nullptr);
    HWND focus = ::GetFocus();
    HWND target = focus && (focus == dialog || ::IsChild(dialog, focus)) ? focus : dialog;
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    ::PostMessageW(target, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
    Pump(dialog);
}

} // namespace

void Click(CDialog& dlg, int id) {
    HWND h = Control(dlg, id);
    if (h && ::IsWindowEnabled(h)) ::SendMessageW(h, BM_CLICK, 0, 0); // a mouse press and release on it
}

void Choose(CDialog& dlg, int id, int index) {
    HWND h = Control(dlg, id);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(::IsWindowEnabled(h)) << "a user cannot choose in disabled combo " << id;
    ::SetFocus(h);
    // Arrow keys walk the closed list one item a key, as a user's keyboard does.
    for (int guard = 0; guard < 100; ++guard) {
        const int current = static_cast<int>(::SendMessageW(h, CB_GETCURSEL, 0, 0));
        if (current == index) return;
        ::SendMessageW(h, WM_KEYDOWN, current < index ? VK_DOWN : VK_UP, 1);
    }
    ADD_FAILURE() << "combo " << id << " did not reach item " << index;
}

void Focus(CDialog& dlg, int id) {
    if (HWND h = Control(dlg, id)) ::SendMessageW(win32::DialogHandle(dlg), WM_NEXTDLGCTL, (WPARAM)h, TRUE);
}

void PressEnter(CDialog& dlg) {
    PressKey(dlg, VK_RETURN);
}

void PressEscape(CDialog& dlg) {
    PressKey(dlg, VK_ESCAPE);
}

bool Checked(CDialog& dlg, int id) {
    HWND h = Control(dlg, id);
    return h && ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int FocusedControl(CDialog& dlg) {
    HWND dialog = win32::DialogHandle(dlg);
    HWND f = ::GetFocus();
    if (!dialog || !f || (f != dialog && !::IsChild(dialog, f))) return -1;
    if (f == dialog) return 0;
    while (::GetParent(f) != dialog) f = ::GetParent(f);
    return ::GetDlgCtrlID(f);
}

void ShowAndAnswerMessageBox(const std::string& text) {
    // The box runs its own loop: a timer of this thread answers it once it shows.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND box = nullptr;
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND h, LPARAM p) -> BOOL {
                wchar_t name[16] = {};
                ::GetClassNameW(h, name, 16);
                if (::lstrcmpW(name, L"#32770") != 0 || !::IsWindowVisible(h) || !::GetDlgItem(h, IDOK))
                    return TRUE;
                if (::GetDlgItem(h, 0xFFFF) == nullptr && ::GetWindow(h, GW_OWNER) == nullptr) return TRUE;
                *reinterpret_cast<HWND*>(p) = h;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&box));
        if (!box) return;
        ::PostMessageW(::GetDlgItem(box, IDOK), WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(::GetDlgItem(box, IDOK), WM_KEYUP, VK_RETURN, 1 | (1u << 30) | (1u << 31));
    });
    AfxMessageBox(text, MB_ICONINFORMATION);
    ::KillTimer(nullptr, timer);
}

void ProcessEvents() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

PixelRect ControlRect(CDialog& dlg, int id) {
    HWND h = Control(dlg, id);
    RECT r{};
    if (!h) return {};
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(HWND_DESKTOP, win32::DialogHandle(dlg), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

PixelRect ClientRect(CDialog& dlg) {
    RECT r{};
    ::GetClientRect(win32::DialogHandle(dlg), &r);
    return {0, 0, r.right, r.bottom};
}

BaseUnits DialogBaseUnits(CDialog& dlg) {
    RECT r{0, 0, 4, 8};
    ::MapDialogRect(win32::DialogHandle(dlg), &r);
    return {r.right, r.bottom};
}

} // namespace pw::test
