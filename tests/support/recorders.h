// Message boxes and file dialogs answered and recorded, for tests of every layer.
#pragma once

#include "framework/file_dialog.h"
#include "framework/message_box.h"

#include <deque>
#include <string>
#include <vector>

namespace pw::test {

struct ShownMessage {
    std::string text;
    unsigned type;
    std::string detail;
    bool operator==(const ShownMessage& o) const { return text == o.text && type == o.type; }
};

// Records every message box while alive.
class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    std::vector<ShownMessage> shown;
    std::vector<std::string> Texts() const;

  private:
    MessageBoxPresenter m_previous;
};

// Answers file dialogs from a queue while alive; an empty queue cancels.
class FileDialogScript {
  public:
    FileDialogScript();
    ~FileDialogScript();
    std::deque<FileDialogAnswer> answers;
    std::vector<FileDialogRequest> requests;

  private:
    FileDialogPresenter m_previous;
};

} // namespace pw::test
