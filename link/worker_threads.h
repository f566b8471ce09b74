// The short-lived worker threads of a device backend: started, asked to stop, joined. Written once for
// every platform; each backend supplies the wake-up object a worker's blocking waits also watch (an
// eventfd, an event), and raises it when the worker is asked to stop.
#pragma once

#include "link/device_services.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace pw {

// What wakes a worker blocked in a wait. Native() is what the backend's waits watch.
class WakeSignal {
  public:
    virtual ~WakeSignal() = default;
    virtual void Raise() = 0;
    virtual std::intptr_t Native() const = 0;
};

struct Worker {
    std::thread thread;
    std::atomic<bool> stopped{false};
    std::unique_ptr<WakeSignal> wake; // may be null: the worker's waits then end at their own limits

    // The native handle of the wake-up object, or `none` when the worker has none.
    std::intptr_t WakeHandle(std::intptr_t none) const { return wake ? wake->Native() : none; }
};

class WorkerThreads {
  public:
    using MakeWake = std::function<std::unique_ptr<WakeSignal>()>;
    // Starts a thread; false when the system would not give one. Tests put in one that fails.
    using Launch = std::function<bool(std::thread& thread, std::function<void()> body)>;

    explicit WorkerThreads(MakeWake makeWake, Launch launch = LaunchThread);
    // Wakes and joins every worker still known.
    ~WorkerThreads();
    void JoinAll();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // 0 when no thread could be started: the body never runs.
    ThreadHandle Start(std::function<void()> body);
    // Marks the worker stopped and raises its wake-up object; it may still be running.
    void Stop(ThreadHandle t);
    // Waits for the worker to end and forgets it.
    void Join(ThreadHandle t);

    // The worker the calling thread is, or null on any other thread.
    static Worker* Current();
    // Whether the calling thread is a worker that was asked to stop.
    static bool CurrentStopped();

    static bool LaunchThread(std::thread& thread, std::function<void()> body);

  private:
    MakeWake m_makeWake;
    Launch m_launch;
    std::mutex m_mutex;
    std::map<ThreadHandle, std::shared_ptr<Worker>> m_workers;
    ThreadHandle m_next = 1;
};

} // namespace pw
