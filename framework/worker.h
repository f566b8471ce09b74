// Work a dialog hands to a worker thread while its window stays live (CDialog::RunWorker), and the calls
// that work makes back to the user-interface thread, which alone touches windows.
#pragma once

#include <cstdint>
#include <functional>

namespace pw {

// How a dialog's worker is started, asked to stop and waited for. The dialogs hand the printer link's own
// threads, so that a stop also wakes a read the worker is blocked in.
class DialogWorkers {
  public:
    virtual ~DialogWorkers() = default;
    // 0 when no worker could be started: the body never runs.
    virtual std::uint64_t StartWorker(std::function<void()> body) = 0;
    // Called once, on the user-interface thread, when the user closes the window during the work.
    virtual void StopWorker(std::uint64_t worker) = 0;
    virtual void JoinWorker(std::uint64_t worker) = 0;
};

// On a dialog's worker: runs `call` on the user-interface thread, in order with the other calls, and waits
// for it to end. Anywhere else: runs it at once.
void CallOnUiThread(const std::function<void()>& call);
// The same without waiting, for what touches only windows (a progress step).
void PostToUiThread(std::function<void()> call);
// True on a dialog's worker whose window the user has closed: what is left is to end the work. The same on
// the user-interface thread inside a call the worker made there, so that a close that came while the call
// waited its turn is seen before the call shows anything.
bool WorkerStopping();

} // namespace pw
