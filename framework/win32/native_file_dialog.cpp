#include "framework/file_dialog.h"
#include "link/win32/wide_text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "framework/win32/native_file_dialog.h"

namespace pw::win32 {

namespace {
// OFN_ENABLEHOOK asks for a hook procedure: this one leaves everything to the dialog.
UINT_PTR CALLBACK DefaultHook(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}
} // namespace

NativeFileDialog::NativeFileDialog(const FileDialogRequest& request, HWND owner)
    : m_open(request.open), m_filter(Widen(request.filter)), m_title(Widen(request.title)),
      m_file(32768, L'\0') {
    for (wchar_t& c : m_filter)
        if (c == L'|') c = L'\0';
    m_filter.push_back(L'\0'); // the list ends with an empty pair
    const std::wstring initial = Widen(request.initialName);
    std::copy_n(initial.begin(), std::min(initial.size(), m_file.size() - 1), m_file.begin());
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.hwndOwner = owner;
    m_ofn.lpstrFilter = m_filter.c_str();
    m_ofn.nFilterIndex = 1;
    m_ofn.lpstrFile = m_file.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
    m_ofn.lpstrTitle = m_title.empty() ? nullptr : m_title.c_str();
    m_ofn.Flags = request.flags;
    if (request.flags & OFN_ENABLEHOOK) m_ofn.lpfnHook = DefaultHook;
}

FileDialogAnswer NativeFileDialog::Run() {
    const BOOL chosen = m_open ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    if (!chosen) return {IDCANCEL, {}};
    return {IDOK, Narrow(m_file.data())};
}

} // namespace pw::win32
