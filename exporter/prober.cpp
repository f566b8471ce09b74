#include "exporter/prober.h"

#include "link/interruptible_device_services.h"

#include <vector>

namespace pw::exporter {

namespace {

// Idle targets whose results are older than the interval are forgotten once this many are held.
constexpr std::size_t kTargetsKept = 1024;

} // namespace

Prober::Prober(Exchange exchange, std::function<Clock::time_point()> now, double minIntervalSeconds,
               int maxConcurrent)
    : m_exchange(std::move(exchange)), m_now(std::move(now)),
      m_minInterval(
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minIntervalSeconds))),
      m_maxConcurrent(maxConcurrent) {}

std::size_t Prober::TargetsHeld() const {
    std::lock_guard lock(m_mapMutex);
    return m_targets.size();
}

std::shared_ptr<Prober::Target> Prober::Enter(const std::string& target) {
    std::lock_guard lock(m_mapMutex);
    std::shared_ptr<Target>& t = m_targets[target];
    if (!t) t = std::make_shared<Target>();
    std::lock_guard inner(t->mutex);
    ++t->users;
    return t;
}

void Prober::Leave(const std::string& target, const std::shared_ptr<Target>& t) {
    std::lock_guard lock(m_mapMutex);
    {
        std::lock_guard inner(t->mutex);
        --t->users;
    }
    if (m_targets.size() <= kTargetsKept) return;
    const Clock::time_point now = m_now();
    for (auto it = m_targets.begin(); it != m_targets.end();) {
        bool idle = false;
        {
            // Decided under the target's lock, erased after it: the erase may destroy the target and its
            // mutex.
            Target& held = *it->second;
            std::lock_guard inner(held.mutex);
            bool fresh = false;
            for (const auto& [name, r] : held.results) fresh = fresh || now - r.finished < m_minInterval;
            idle = held.users == 0 && !held.running && !fresh;
        }
        it = idle ? m_targets.erase(it) : std::next(it);
    }
    (void)target;
}

Prober::Answer Prober::Probe(const std::string& target, const std::string& moduleName, const Module& module,
                             Clock::time_point deadline) {
    const std::shared_ptr<Target> t = Enter(target);
    Answer a;
    std::unique_lock lock(t->mutex);
    const std::uint64_t arrived = t->generation;
    for (;;) {
        const auto it = t->results.find(moduleName);
        if (it != t->results.end()) {
            const Result& r = it->second;
            const bool shared = r.generation > arrived;
            if (shared || m_now() - r.finished < m_minInterval) {
                a.outcome = shared ? Outcome::Shared : Outcome::Reused;
                a.result = r.result;
                a.ageSeconds = std::chrono::duration<double>(m_now() - r.finished).count();
                lock.unlock();
                Leave(target, t);
                return a;
            }
        }
        if (!t->running) break;
        if (t->changed.wait_until(lock, deadline) == std::cv_status::timeout && t->running) {
            a.outcome = Outcome::Waited;
            lock.unlock();
            Leave(target, t);
            return a;
        }
    }
    if (m_inFlight.fetch_add(1) >= m_maxConcurrent) {
        m_inFlight.fetch_sub(1);
        a.outcome = Outcome::Limited;
        lock.unlock();
        Leave(target, t);
        return a;
    }
    t->running = true;
    lock.unlock();
    a.outcome = Outcome::Exchanged;
    try {
        a.result = m_exchange(target, module, deadline);
    } catch (...) {
        // The target must not stay busy for good, nor the exchange counted, whatever went wrong.
        m_inFlight.fetch_sub(1);
        lock.lock();
        t->running = false;
        t->changed.notify_all();
        lock.unlock();
        Leave(target, t);
        throw;
    }
    m_inFlight.fetch_sub(1);
    lock.lock();
    t->running = false;
    ++t->generation;
    t->results[moduleName] = Result{a.result, m_now(), t->generation};
    t->changed.notify_all();
    lock.unlock();
    Leave(target, t);
    return a;
}

cli::PortResult ExchangeWithPrinter(const std::string& target, const Module& module,
                                    Clock::time_point deadline,
                                    const std::function<void(const std::string&)>& detail) {
    cli::PortJob job;
    job.command = cli::Command::Status;
    job.line = module.line;
    job.identity = module.identity;
    std::atomic<bool> stop{false};
    std::atomic<bool> timedOut{false};
    job.timedOut = &timedOut;
    job.timeout = static_cast<int>(module.timeoutSeconds + 0.5);
    cli::MessageLog log(detail);
    const std::unique_ptr<DeviceServices> platform = NewPlatformServices();
    InterruptibleDeviceServices top(*platform, stop);

    cli::PortResult result;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    const ThreadHandle worker = top.StartThread([&] {
        cli::PortResult r = cli::RunPort(target, job, top, stop, log);
        std::lock_guard lock(mutex);
        result = std::move(r);
        done = true;
        finished.notify_all();
    });
    if (worker == 0) {
        result.port = target;
        result.exit = cli::kExitCannotOpen;
        result.error = "no thread could be started for the exchange";
        return result;
    }
    {
        std::unique_lock lock(mutex);
        if (!finished.wait_until(lock, deadline, [&] { return done; })) {
            timedOut.store(true);
            stop.store(true);
        }
    }
    if (stop.load()) top.StopThread(worker);
    top.JoinThread(worker);
    if (result.interrupted) result.error = "no complete answer within the probe's timeout";
    return result;
}

} // namespace pw::exporter
