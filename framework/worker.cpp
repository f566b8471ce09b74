#include "framework/worker.h"

#include "framework/dialog.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace pw {

// One run of CDialog::RunWorker: the calls the worker queued for the window's thread, and what the user did
// meanwhile.
struct WorkerRun {
    WorkerRun(CDialog& d, DialogWorkers& t) : dlg(d), threads(t) {}

    // From the worker: queues `call` and wakes the window's thread, unless a wake-up is on its way already
    // (the window's thread runs the queue until it is empty).
    void Post(std::function<void()> call) {
        bool wake = false;
        {
            std::lock_guard lock(mutex);
            wake = calls.empty();
            calls.push_back(std::move(call));
        }
        if (wake) dlg.Window()->WakeForPosted();
    }

    CDialog& dlg;
    DialogWorkers& threads;
    std::uint64_t worker = 0;
    std::mutex mutex;
    std::condition_variable answered;
    std::deque<std::function<void()>> calls; // under mutex
    std::atomic<bool> stopping{false};
    bool started = false;        // under mutex: the worker runs
    bool done = false;           // the window's thread only
    bool closeRequested = false; // the window's thread only
};

namespace {
thread_local WorkerRun* currentRun = nullptr; // on a worker: its run
thread_local WorkerRun* callingRun = nullptr; // on the window's thread: the run whose call is running
} // namespace

void CallOnUiThread(const std::function<void()>& call) {
    WorkerRun* run = currentRun;
    if (!run) {
        call();
        return;
    }
    bool ran = false;
    run->Post([&] {
        call();
        std::lock_guard lock(run->mutex);
        ran = true;
        run->answered.notify_all();
    });
    std::unique_lock lock(run->mutex);
    run->answered.wait(lock, [&] { return ran; });
}

void PostToUiThread(std::function<void()> call) {
    if (WorkerRun* run = currentRun)
        run->Post(std::move(call));
    else
        call();
}

bool WorkerStopping() {
    const WorkerRun* run = currentRun ? currentRun : callingRun;
    return run && run->stopping.load();
}

bool CDialog::RunWorker(DialogWorkers& threads, const std::function<void()>& work) {
    if (!m_window || m_work) return false;
    WorkerRun run(*this, threads);
    m_work = &run;
    const int focus = m_window->FocusedControl();
    try {
        run.worker = threads.StartWorker([&run, &work] {
            currentRun = &run;
            {
                std::lock_guard lock(run.mutex);
                run.started = true;
            }
            run.answered.notify_all();
            work();
            currentRun = nullptr;
            run.Post([&run] {
                run.done = true;
                run.dlg.Window()->QuitBusyLoop();
            });
        });
    } catch (...) {
        m_work = nullptr;
        throw;
    }
    if (run.worker == 0) { // no thread: the work never runs, and nothing is waited for
        m_work = nullptr;
        return false;
    }
    // The window's thread has painting to catch up on (the click, for one): it waits until the worker runs,
    // so that the sequence does not wait for it when both get the same processor.
    {
        std::unique_lock lock(run.mutex);
        run.answered.wait(lock, [&] { return run.started; });
    }
    while (!run.done) m_window->RunBusyLoop();
    threads.JoinWorker(run.worker);
    RunPosted(); // nothing is left, but the queue goes with the run
    m_work = nullptr;
    m_window->RestoreFocus(focus);
    if (run.closeRequested) m_window->PostCancel();
    return !run.stopping.load();
}

void CDialog::RunPosted() {
    WorkerRun* run = m_work;
    if (!run) return; // a late wake: the run has ended
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(run->mutex);
            if (run->calls.empty()) return;
            call = std::move(run->calls.front());
            run->calls.pop_front();
        }
        WorkerRun* outer = std::exchange(callingRun, run);
        call();
        callingRun = outer;
    }
}

void CDialog::Command(int id) {
    if (m_work) {
        if (id != IDCANCEL) return;
        m_work->closeRequested = true;
        if (!m_work->stopping.exchange(true)) m_work->threads.StopWorker(m_work->worker);
        return;
    }
    if (id == IDOK)
        OnOK();
    else if (id == IDCANCEL)
        OnCancel();
}

} // namespace pw
