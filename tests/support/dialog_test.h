// Driving dialogs offscreen as a user would: clicks, keys and choices on controls found by their ids;
// message boxes and file dialogs answered and recorded.
#pragma once

#include "framework/dialog.h"
#include "tests/support/backend_driver.h"
#include "tests/support/file_dialog_script.h"
#include "tests/support/recorders.h"

#include <deque>
#include <string>
#include <vector>

namespace pw::test {

void PressKey(CDialog& dlg, int qtKey);
bool Enabled(CDialog& dlg, int id);
std::string Text(CDialog& dlg, int id);
// Whether a static control shows its text as plain text, never as markup.
bool ShownAsPlainText(CDialog& dlg, int id);
int Selection(CDialog& dlg, int id);
std::vector<std::string> Items(CDialog& dlg, int id);
int ProgressSteps(CDialog& dlg, int id);
int ProgressPos(CDialog& dlg, int id);
// The tooltip a control shows when the mouse rests on it, as plain text.
std::string ToolTip(CDialog& dlg, int id);
// The tooltip of an item of a combo box's list: the list is dropped, the item's tip read, the list closed.
std::string ItemToolTip(CDialog& dlg, int id, int index);

} // namespace pw::test
