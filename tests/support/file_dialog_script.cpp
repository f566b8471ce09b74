#include "tests/support/file_dialog_script.h"

namespace pw::test {

FileDialogScript::FileDialogScript() {
    m_previous = SetFileDialogPresenter([this](const FileDialogRequest& r) {
        requests.push_back(r);
        if (answers.empty()) return FileDialogAnswer{IDCANCEL, {}};
        FileDialogAnswer a = answers.front();
        answers.pop_front();
        return a;
    });
}
FileDialogScript::~FileDialogScript() {
    SetFileDialogPresenter(m_previous);
}

} // namespace pw::test
