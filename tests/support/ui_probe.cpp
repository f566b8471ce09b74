#include "tests/support/ui_probe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <chrono>

namespace pw::test {

namespace {
// Wakes the receiver for the queued calls. A bare event: what the calls share goes through the probe's
// mutex, where ThreadSanitizer sees it.
const QEvent::Type kProbeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class Receiver final : public QObject {
  public:
    explicit Receiver(std::function<void()> onEvent) : m_onEvent(std::move(onEvent)) {}
    void customEvent(QEvent*) override { m_onEvent(); } // the probe's wake-ups are all it gets

  private:
    std::function<void()> m_onEvent;
};
} // namespace

UiProbe::UiProbe(DeviceServices& inner)
    : DeviceServicesDecorator(inner), m_receiver(std::make_unique<Receiver>([this] { RunQueued(); })) {}

UiProbe::~UiProbe() = default;

void UiProbe::RunQueued() {
    std::unique_lock lock(m_mutex);
    while (!m_queue.empty()) {
        std::function<void()> call = std::move(m_queue.front());
        m_queue.pop_front();
        call(); // under the lock: the worker waits for it anyway
        ++m_done;
    }
    m_ran.notify_all();
}

bool UiProbe::RunFromEventLoop(std::function<void()> call) {
    std::unique_lock lock(m_mutex);
    const int target = m_done + static_cast<int>(m_queue.size()) + 1;
    m_queue.push_back(std::move(call));
    QCoreApplication::postEvent(m_receiver.get(), new QEvent(kProbeEvent));
    if (m_ran.wait_for(lock, std::chrono::seconds(5), [&] { return m_done >= target; })) return true;
    m_queue.clear(); // never run late, after the test has gone on
    return false;
}

bool UiProbe::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                        std::uint32_t& written, PendingWrite& pending) {
    const bool ok = Inner().WriteFile(h, data, length, written, pending);
    auto it = m_probes.find(Bytes(data, data + length));
    if (it != m_probes.end() && QThread::currentThread() != m_receiver->thread()) {
        std::function<void()> probe = std::move(it->second);
        m_probes.erase(it);
        if (RunFromEventLoop(std::move(probe)))
            ++ran;
        else
            ++missed;
    }
    return ok;
}

} // namespace pw::test
