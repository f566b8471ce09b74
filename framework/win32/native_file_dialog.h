// A file dialog request as the common file dialog takes it: OPENFILENAMEW with the request's title, filter
// ("Description|pattern|" becomes NUL-separated), initial name and flags, unchanged. Include after the
// framework's headers and windows.h.
#pragma once

#include "framework/file_dialog.h"

#include <commdlg.h>
#include <string>
#include <vector>

namespace pw::win32 {

class NativeFileDialog {
  public:
    NativeFileDialog(const FileDialogRequest& request, HWND owner);
    NativeFileDialog(const NativeFileDialog&) = delete;
    NativeFileDialog& operator=(const NativeFileDialog&) = delete;

    const OPENFILENAMEW& Ofn() const { return m_ofn; }
    // GetOpenFileNameW or GetSaveFileNameW: IDOK with the chosen path, or IDCANCEL.
    FileDialogAnswer Run();

  private:
    bool m_open;
    std::wstring m_filter;
    std::wstring m_title;
    std::vector<wchar_t> m_file;
    OPENFILENAMEW m_ofn{};
};

} // namespace pw::win32
