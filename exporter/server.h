// The exporter's HTTP side: /probe, /metrics and the index page, basic authentication, and the log lines.
// The routes are written once; main() chooses plain HTTP or TLS.
#pragma once

#include "exporter/exporter_config.h"
#include "exporter/prober.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace pw::exporter {

enum class LogLevel { Debug, Info, Warn, Error };

// One logfmt line per event on standard error: ts=... level=... msg="..." key="value" ...
class Logger {
  public:
    Logger(std::FILE* out, LogLevel level) : m_out(out), m_level(level) {}
    void Log(LogLevel level, const std::string& msg,
             std::initializer_list<std::pair<const char*, std::string>> kv);
    bool Enabled(LogLevel level) const { return level >= m_level; }

  private:
    std::mutex m_mutex;
    std::FILE* m_out;
    LogLevel m_level;
};

struct Counters {
    std::atomic<std::uint64_t> success{0}, failure{0}, refused{0}, limited{0}, badRequests{0},
        unauthorized{0};
    std::atomic<std::uint64_t> exchanges{0}, shared{0}, reused{0};
    std::atomic<int> inFlight{0};
};

// A password checked against its bcrypt hash; a pair once found good is remembered (as a digest), so that
// each scrape does not pay bcrypt's cost.
class PasswordCheck {
  public:
    explicit PasswordCheck(std::map<std::string, std::string> users);
    bool Any() const { return !m_users.empty(); }
    bool Good(const std::string& user, const std::string& password);

  private:
    std::map<std::string, std::string> m_users;
    // A user not in the list is checked against this hash, at the cost of the dearest listed one: a
    // refusal takes as long whether the name exists or not.
    std::string m_stranger;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_good; // user -> digest of a password found good
};

// Whether bcrypt can be checked in this build.
bool BcryptAvailable();

struct ServerParts {
    const ExporterConfig* config = nullptr;
    Prober* prober = nullptr;
    PasswordCheck* passwords = nullptr;
    Logger* log = nullptr;
    Counters* counters = nullptr;
};

// The routes on `server`, and the limits every request has.
void SetUpRoutes(httplib::Server& server, const ServerParts& parts);

// How long a probe may take: the module's timeout, or less, so that the answer comes within the scrape's
// timeout (the X-Prometheus-Scrape-Timeout-Seconds header, when it is a duration).
double ProbeSeconds(double moduleTimeout, const std::string& scrapeTimeout);

// The text of a probe's answer in the Prometheus text format.
std::string ProbeText(const Prober::Answer& answer, double seconds);

} // namespace pw::exporter
