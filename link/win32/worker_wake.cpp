// What wakes a worker thread of the Win32 backend: a manual-reset event, raised once and for good when the
// worker is asked to stop, so that its blocked read and every later one end at once. Overlapped reads wait
// on it beside their own event; socket reads look at it between select() slices.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "link/win32/win32_device.h"

namespace pw::win32 {

namespace {

class EventWake : public WakeSignal {
  public:
    explicit EventWake(HANDLE event) : m_event(event) {}
    ~EventWake() override { ::CloseHandle(m_event); }
    void Raise() override { ::SetEvent(m_event); }
    std::intptr_t Native() const override { return reinterpret_cast<std::intptr_t>(m_event); }

  private:
    HANDLE m_event;
};

} // namespace

std::unique_ptr<WakeSignal> MakeEventWake() {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) return nullptr;
    return std::make_unique<EventWake>(event);
}

void* CurrentWakeEvent() {
    const Worker* worker = WorkerThreads::Current();
    return worker ? reinterpret_cast<void*>(worker->WakeHandle(0)) : nullptr;
}

} // namespace pw::win32
