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

} // namespace pw::test
