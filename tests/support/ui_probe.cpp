#include "tests/support/ui_probe.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace pw::test {

bool RunFromEventLoop(const std::function<void()>& call) {
    struct Handshake {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false, abandoned = false;
    };
    auto h = std::make_shared<Handshake>();
    // The locks order what the worker did before against what the call sees, for ThreadSanitizer too.
    { std::lock_guard lock(h->mutex); }
    QMetaObject::invokeMethod(
        qApp,
        [h, call] {
            std::lock_guard lock(h->mutex);
            if (h->abandoned) return;
            call();
            h->done = true;
            h->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(h->mutex);
    if (h->cv.wait_for(lock, std::chrono::seconds(5), [&] { return h->done; })) return true;
    h->abandoned = true;
    return false;
}

bool UiProbe::WriteFile(DeviceHandle h, const std::uint8_t* data, std::uint32_t length,
                        std::uint32_t& written, PendingWrite& pending) {
    const bool ok = Inner().WriteFile(h, data, length, written, pending);
    auto it = m_probes.find(Bytes(data, data + length));
    if (it != m_probes.end() && QThread::currentThread() != qApp->thread()) {
        std::function<void()> probe = std::move(it->second);
        m_probes.erase(it);
        if (RunFromEventLoop(probe))
            ++ran;
        else
            ++missed;
    }
    return ok;
}

} // namespace pw::test
