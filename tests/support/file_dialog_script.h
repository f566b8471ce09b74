// File dialogs answered from a script and recorded, for the dialog tests.
#pragma once

#include "framework/file_dialog.h"

#include <deque>
#include <vector>

namespace pw::test {

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
