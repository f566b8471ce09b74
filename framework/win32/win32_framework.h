// The native Win32 backend of the dialog framework: dialogs from the templates through
// DialogBoxIndirectParamW, MessageBoxW and the common file dialogs. The only place that builds windows on
// Windows. windows.h defines the framework's names (IDOK, BN_CLICKED, MB_OK, ...) as macros of the same
// values: include it after the framework's headers.
#pragma once

#include "framework/file_dialog.h"

#include <string>

struct HWND__;

namespace pw {
class CDialog;
}

namespace pw::win32 {

// Installs the window factory and the message-box and file-dialog presenters for this thread, with the
// common controls of the program's manifest.
void InstallWin32Framework();

// The window of a dialog whose window is up, and one of its controls; nullptr otherwise.
HWND__* DialogHandle(CDialog& dlg);
HWND__* ControlHandle(CDialog& dlg, int id);

// The caption of the program's message boxes: the executable's name without folder and extension.
std::wstring ProgramName();

} // namespace pw::win32
