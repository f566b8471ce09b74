// A user at a dialog, the same calls on either backend of the framework: clicks, choices and keys on
// controls found by their ids, and where the controls sit. Qt's are in dialog_test.cpp, Win32's in
// win32_driver.cpp.
#pragma once

#include "framework/dialog.h"

#include <string>

namespace pw::test {

struct PixelRect {
    int x = 0, y = 0, cx = 0, cy = 0;
};
struct BaseUnits {
    int x = 0, y = 0;
};

void Click(CDialog& dlg, int id);
// A pick from the combo box's list, as a user makes it.
void Choose(CDialog& dlg, int id, int index);
// The keyboard focus moves to the control, as a user's Tab or click would put it there.
void Focus(CDialog& dlg, int id);
void PressEnter(CDialog& dlg);
void PressEscape(CDialog& dlg);
bool Checked(CDialog& dlg, int id);
// The control that has the keyboard focus: 0 when the dialog itself has it, -1 when it is elsewhere.
int FocusedControl(CDialog& dlg);
// A real message box of the backend, shown over the dialog and answered with Enter as a user would.
void ShowAndAnswerMessageBox(const std::string& text);
// Runs what is queued for the program's windows, as their event loop would.
void ProcessEvents();
// A control's place in the dialog's client area, and the client area itself, in pixels.
PixelRect ControlRect(CDialog& dlg, int id);
PixelRect ClientRect(CDialog& dlg);
// The dialog's base units: the pixels of 4 horizontal and 8 vertical dialog units.
BaseUnits DialogBaseUnits(CDialog& dlg);

} // namespace pw::test
