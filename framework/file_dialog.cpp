#include "framework/file_dialog.h"

#include <utility>

namespace pw {

namespace {
FileDialogPresenter& Presenter() {
    static FileDialogPresenter presenter;
    return presenter;
}
} // namespace

FileDialogPresenter SetFileDialogPresenter(FileDialogPresenter presenter) {
    return std::exchange(Presenter(), std::move(presenter));
}

CFileDialog::CFileDialog(bool openFileDialog, const std::string& initialName, unsigned flags,
                         const std::string& filter, const std::string& title)
    : m_request{openFileDialog, initialName, filter, title, flags} {}

int CFileDialog::DoModal() {
    if (!Presenter()) return IDCANCEL;
    FileDialogAnswer a = Presenter()(m_request);
    if (a.result == IDOK) m_path = a.path;
    return a.result;
}

std::string CFileDialog::GetFileName() const {
#ifdef _WIN32
    auto slash = m_path.find_last_of("\\/");
#else
    auto slash = m_path.find_last_of('/');
#endif
    return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

} // namespace pw
