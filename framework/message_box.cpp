#include "framework/message_box.h"

#include <cstdio>
#include <utility>

namespace pw {

namespace {
MessageBoxPresenter& Presenter() {
    static MessageBoxPresenter presenter;
    return presenter;
}
} // namespace

int AfxMessageBox(const std::string& text, unsigned type, const std::string& detail) {
    if (auto& p = Presenter()) return p(text, type, detail);
    std::fprintf(stderr, "%s\n", text.c_str());
    if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    return IDOK;
}

MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    return std::exchange(Presenter(), std::move(presenter));
}

} // namespace pw
