// Pauses a printer sequence on its worker at chosen commands and runs test code on the user-interface
// thread meanwhile, from that thread's event loop: it shows that the window's event loop runs during a
// sequence, and lets the test act there as a user would (clicks, keys, closing the window).
#pragma once

#include "link/device_services_decorator.h"
#include "tests/support/fake_device_services.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class QObject;

namespace pw::test {

class UiProbe : public DeviceServicesDecorator {
  public:
    // Made on the user-interface thread.
    explicit UiProbe(DeviceServices& inner);
    ~UiProbe() override;

    // Once the first write of exactly `command` has gone out, `onUi` runs on the user-interface thread
    // while the worker waits for it.
    void At(const Bytes& command, std::function<void()> onUi) { m_probes[command] = std::move(onUi); }
    int ran = 0;    // probes that ran, from the event loop, while their sequence waited
    int missed = 0; // probes the event loop did not run within 5 s

    bool WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                   PendingWrite& pending) override;

  private:
    // From another thread: runs `call` on the user-interface thread, from its event loop, and waits for it
    // (at most 5 s); false when it did not run in that time.
    bool RunFromEventLoop(std::function<void()> call);
    void RunQueued();

    std::map<Bytes, std::function<void()>> m_probes;
    std::unique_ptr<QObject> m_receiver; // lives on the user-interface thread
    std::mutex m_mutex;
    std::condition_variable m_ran;
    std::deque<std::function<void()>> m_queue; // under m_mutex
    int m_done = 0;                            // under m_mutex: calls run so far
};

} // namespace pw::test
