#include "tests/support/recorders.h"

namespace pw::test {

MessageRecorder::MessageRecorder() {
    m_previous =
        SetMessageBoxPresenter([this](const std::string& text, unsigned type, const std::string& detail) {
            shown.push_back({text, type, detail});
            return IDOK;
        });
}
MessageRecorder::~MessageRecorder() {
    SetMessageBoxPresenter(m_previous);
}

std::vector<std::string> MessageRecorder::Texts() const {
    std::vector<std::string> t;
    for (auto& m : shown) t.push_back(m.text);
    return t;
}

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
