// The message-box service that every layer calls. It never builds a widget itself: the front end installs
// a presenter (a modal box in the program, a recorder in tests).
#pragma once

#include <functional>
#include <string>

namespace pw {

constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_ICONEXCLAMATION = 0x30; // 48
constexpr unsigned MB_ICONINFORMATION = 0x40; // 64

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// `detail` is an optional second paragraph under the text (what to do about a device problem); the text
// itself is always the system's own.
using MessageBoxPresenter =
    std::function<int(const std::string& text, unsigned type, const std::string& detail)>;

// Shows `text` modally with one OK button; type 0 (no icon), 48 (exclamation) or 64 (information).
int AfxMessageBox(const std::string& text, unsigned type = MB_OK, const std::string& detail = {});

// Installs the presenter and returns the previous one. Without one the text goes to standard error.
MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter);

} // namespace pw
