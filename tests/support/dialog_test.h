// Driving dialogs offscreen as a user would: clicks, keys and choices on controls found by their ids;
// message boxes and file dialogs answered and recorded.
#pragma once

#include "framework/dialog.h"
#include "framework/file_dialog.h"

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

void Click(CDialog& dlg, int id);
void Choose(CDialog& dlg, int id, int index);
void PressKey(CDialog& dlg, int qtKey);
bool Enabled(CDialog& dlg, int id);
bool Checked(CDialog& dlg, int id);
std::string Text(CDialog& dlg, int id);
int Selection(CDialog& dlg, int id);
std::vector<std::string> Items(CDialog& dlg, int id);
int ProgressSteps(CDialog& dlg, int id);
int ProgressPos(CDialog& dlg, int id);

} // namespace pw::test
