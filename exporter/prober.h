// One printer, one conversation: probes of a target share its exchange with the printer. While one runs,
// other probes of that target wait for it (and take its result when they asked for the same module); a
// result is reused for the minimum interval, so several Prometheus servers do not multiply the traffic;
// probes of other targets never wait for it. Exchanges at once are limited; the clock is given, so the
// rules can be tried without waiting.
#pragma once

#include "cli/port_job.h"
#include "exporter/exporter_config.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pw::exporter {

using Clock = std::chrono::steady_clock;

// Talks to the printer at `target` and ends by `deadline`, whatever the printer does.
using Exchange = std::function<cli::PortResult(const std::string& target, const Module& module,
                                               Clock::time_point deadline)>;

class Prober {
  public:
    enum class Outcome {
        Exchanged, // this probe talked to the printer
        Shared,    // it took the result of an exchange that another probe started
        Reused,    // it took a result younger than the minimum interval
        Waited,    // its deadline came while another probe's exchange with the printer went on
        Limited,   // too many exchanges at once
    };
    struct Answer {
        Outcome outcome = Outcome::Exchanged;
        cli::PortResult result;
        double ageSeconds = 0; // of the result, when taken from an earlier exchange
    };

    Prober(Exchange exchange, std::function<Clock::time_point()> now, double minIntervalSeconds,
           int maxConcurrent);

    Answer Probe(const std::string& target, const std::string& moduleName, const Module& module,
                 Clock::time_point deadline);

    int InFlight() const { return m_inFlight.load(); }
    std::size_t TargetsHeld() const;

  private:
    struct Result {
        cli::PortResult result;
        Clock::time_point finished;
        std::uint64_t generation = 0;
    };
    struct Target {
        std::mutex mutex;
        std::condition_variable changed;
        bool running = false;
        std::uint64_t generation = 0; // exchanges finished
        std::map<std::string, Result> results;
        int users = 0; // probes inside Probe(); an idle target may be forgotten
    };
    std::shared_ptr<Target> Enter(const std::string& target);
    void Leave(const std::string& target, const std::shared_ptr<Target>& t);

    Exchange m_exchange;
    std::function<Clock::time_point()> m_now;
    Clock::duration m_minInterval;
    int m_maxConcurrent;
    std::atomic<int> m_inFlight{0};
    mutable std::mutex m_mapMutex;
    std::map<std::string, std::shared_ptr<Target>> m_targets;
};

// The exchange with a real printer: pinwright-cli status's own work on the port (DLE EOT 1 to 4, with
// --baud auto the line search by status queries), the identity texts when the module asks for them. It
// ends by the deadline: a stop then cuts every wait short.
cli::PortResult ExchangeWithPrinter(const std::string& target, const Module& module,
                                    Clock::time_point deadline,
                                    const std::function<void(const std::string&)>& detail);

} // namespace pw::exporter
