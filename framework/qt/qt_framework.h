// The Qt 6 Widgets backend of the dialog framework: windows built from templates, message boxes and file
// dialogs. The only place that builds widgets.
#pragma once

class QWidget;
class QComboBox;
class QIcon;

namespace pw {
class CDialog;
}

namespace pw::qt {

// Installs the window factory and the message-box and file-dialog presenters. A QApplication must exist.
void InstallQtFramework();

// The application icon (resource 128) in both sizes.
QIcon AppIcon();

// For a stop from outside (a signal): the innermost dialog gets the Cancel command of its close box (work
// under way stops at its safe point: user setting mode is ended first), then the message boxes, file
// dialogs and menus over it are dismissed. Called again until the program ends, since the dialog below
// takes over once the handler that ran the inner one has returned.
void CloseForStop();

// The widget of a control of a dialog whose window is up, or nullptr.
QWidget* ControlWidget(CDialog& dlg, int id);
// The dialog's top-level widget, or nullptr.
QWidget* DialogWidget(CDialog& dlg);

// A user's choice in a combo box: the selection moves and the box reports the choice, as a pick from its
// list does.
void UserSelect(QComboBox* combo, int index);

// Steps the progress bar has taken since its window was built (for tests and benchmarks).
int ProgressSteps(QWidget* progress);

} // namespace pw::qt
