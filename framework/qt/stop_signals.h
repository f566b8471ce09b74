// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a service stop, the terminal or the session going away) stop the
// program as closing its windows does: printer work under way ends at its safe point, so a printer is never
// left in user setting mode, and the program then ends with 128 + the signal.
#pragma once

namespace pw::qt {

// Before any thread is started (before the QApplication): the signals are blocked in every thread and
// taken from a signalfd, so that none of them interrupts a thread's wait. A signal that was ignored when the
// program started (nohup, a background job of a script) stays ignored.
void TakeStopSignals();

// Once the QApplication exists: the first signal taken sets the stop status and closes the windows
// (CloseForStop), again every 50 ms until the program has ended.
void CloseWindowsOnStopSignals();

} // namespace pw::qt
