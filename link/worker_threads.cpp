#include "link/worker_threads.h"

#include <system_error>

namespace pw {

namespace {
thread_local Worker* current = nullptr;
} // namespace

bool WorkerThreads::LaunchThread(std::thread& thread, std::function<void()> body) {
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false; // no thread to be had (a process or memory limit)
    }
}

WorkerThreads::WorkerThreads(MakeWake makeWake, Launch launch)
    : m_makeWake(std::move(makeWake)), m_launch(std::move(launch)) {}

WorkerThreads::~WorkerThreads() {
    JoinAll();
}

void WorkerThreads::JoinAll() {
    std::map<ThreadHandle, std::shared_ptr<Worker>> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& [id, w] : workers) {
        w->stopped = true;
        if (w->wake) w->wake->Raise();
        if (w->thread.joinable()) w->thread.join();
    }
}

ThreadHandle WorkerThreads::Start(std::function<void()> body) {
    auto w = std::make_shared<Worker>();
    w->wake = m_makeWake ? m_makeWake() : nullptr;
    Worker* raw = w.get();
    std::lock_guard lock(m_mutex); // the worker is known before it runs, and never known if it cannot run
    if (!m_launch(w->thread, [raw, body = std::move(body)] {
            current = raw;
            body();
            current = nullptr;
        }))
        return 0;
    const ThreadHandle id = m_next++;
    m_workers[id] = std::move(w);
    return id;
}

void WorkerThreads::Stop(ThreadHandle t) {
    std::shared_ptr<Worker> w;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_workers.find(t);
        if (it == m_workers.end()) return;
        w = it->second;
    }
    w->stopped = true;
    if (w->wake) w->wake->Raise();
}

void WorkerThreads::Join(ThreadHandle t) {
    std::shared_ptr<Worker> w;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_workers.find(t);
        if (it == m_workers.end()) return;
        w = std::move(it->second);
        m_workers.erase(it);
    }
    if (w->thread.joinable()) w->thread.join();
}

Worker* WorkerThreads::Current() {
    return current;
}

bool WorkerThreads::CurrentStopped() {
    return current && current->stopped.load();
}

} // namespace pw
