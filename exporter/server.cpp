#include "exporter/server.h"

#include "cli/metrics.h"
#include "pinwright_version.h"

#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#if defined(PINWRIGHT_HAVE_CRYPT)
#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#endif

namespace pw::exporter {

namespace {

constexpr const char* kTextFormat = "text/plain; version=0.0.4; charset=utf-8";
// Prometheus's own margin: a probe ends this much before the scrape's timeout.
constexpr double kScrapeMarginSeconds = 0.5;

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : cli::MetricLabel(s)) {
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* LevelName(LogLevel l) {
    switch (l) {
    case LogLevel::Debug:
        return "debug";
    case LogLevel::Info:
        return "info";
    case LogLevel::Warn:
        return "warn";
    case LogLevel::Error:
        break;
    }
    return "error";
}

std::string Number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

void Gauge(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

bool Base64Decode(const std::string& in, std::string& out) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.clear();
    if (in.size() % 4 != 0) return false;
    std::uint32_t bits = 0;
    int count = 0, pad = 0;
    for (char c : in) {
        if (c == '=') {
            ++pad;
            bits <<= 6;
        } else {
            if (pad) return false;
            const std::size_t v = kAlphabet.find(c);
            if (v == std::string::npos) return false;
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
        }
        if (++count == 4) {
            out += static_cast<char>((bits >> 16) & 0xFF);
            if (pad < 2) out += static_cast<char>((bits >> 8) & 0xFF);
            if (pad < 1) out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    return pad <= 2;
}

[[maybe_unused]] bool SameBytes(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

void Logger::Log(LogLevel level, const std::string& msg,
                 std::initializer_list<std::pair<const char*, std::string>> kv) {
    if (!Enabled(level)) return;
    char when[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line = std::string("ts=") + when + " level=" + LevelName(level) + " msg=" + Quoted(msg);
    for (const auto& [key, value] : kv) line += std::string(" ") + key + "=" + Quoted(value);
    line += "\n";
    std::lock_guard lock(m_mutex);
    std::fputs(line.c_str(), m_out);
    std::fflush(m_out);
}

bool BcryptAvailable() {
#if defined(PINWRIGHT_HAVE_CRYPT)
    return true;
#else
    return false;
#endif
}

PasswordCheck::PasswordCheck(std::map<std::string, std::string> users) : m_users(std::move(users)) {
    unsigned long cost = 4;
    for (const auto& [user, hash] : m_users) // "$2y$NN$..."
        cost = std::clamp(std::strtoul(hash.substr(4, 2).c_str(), nullptr, 10), cost, 31UL);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "$2b$%02lu$", cost);
    // Salt and hash of no one's password: crypt() works through them as through any other.
    m_stranger = std::string(prefix) + "iaEfuM3oSAYov/cfHH4k3.CxlBIaC7xGu6SbSdd7PoTjt6RV7cSfW";
}

bool PasswordCheck::Good(const std::string& user, const std::string& password) {
    const auto it = m_users.find(user);
#if defined(PINWRIGHT_HAVE_CRYPT)
    // A digest of the pair, salted by the hash itself: what is remembered is no password.
    auto digest = [&](const std::string& hash) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        const std::string text = hash + '\0' + password;
        EVP_Digest(text.data(), text.size(), md, &n, EVP_sha256(), nullptr);
        return std::string(reinterpret_cast<char*>(md), n);
    };
    const std::string hash = it == m_users.end() ? std::string(60, '*') : it->second;
    const std::string d = digest(hash);
    {
        std::lock_guard lock(m_mutex);
        const auto known = m_good.find(user);
        if (it != m_users.end() && known != m_good.end() && SameBytes(known->second, d)) return true;
    }
    // bcrypt's whole cost is paid for every refusal: its time tells nothing of which names exist.
    crypt_data data{};
    const char* out =
        crypt_r(password.c_str(), it == m_users.end() ? m_stranger.c_str() : hash.c_str(), &data);
    if (it == m_users.end() || password.find('\0') != std::string::npos) return false;
    if (!out || out[0] == '*' || !SameBytes(out, hash)) return false;
    std::lock_guard lock(m_mutex);
    m_good[user] = d;
    return true;
#else
    (void)it;
    (void)password;
    return false;
#endif
}

double ProbeSeconds(double moduleTimeout, const std::string& scrapeTimeout) {
    double given = 0;
    if (scrapeTimeout.empty() || !ParseDuration(scrapeTimeout, given)) return moduleTimeout;
    const double room = given > 2 * kScrapeMarginSeconds ? given - kScrapeMarginSeconds : given * 0.75;
    return std::min(moduleTimeout, room);
}

std::string ProbeText(const Prober::Answer& a, double seconds) {
    const cli::PortResult& r = a.result;
    std::string out;
    Gauge(out, "probe_success", "gauge", "Whether the printer's real-time status was read.");
    out += std::string("probe_success ") + (r.haveStatus ? "1" : "0") + "\n";
    Gauge(out, "probe_duration_seconds", "gauge", "How long the probe took, in seconds.");
    out += "probe_duration_seconds " + Number(seconds) + "\n";
    Gauge(out, "pinwright_probe_result_age_seconds", "gauge",
          "How old the printer's answer is: 0 when this probe asked it, more when it came from a probe "
          "within the minimum interval.");
    out += "pinwright_probe_result_age_seconds " +
           Number(a.outcome == Prober::Outcome::Reused ? a.ageSeconds : 0) + "\n";
    if (a.outcome == Prober::Outcome::Waited) return out;
    out += cli::PrinterGaugesText({r});
    if (r.haveIdentity) {
        Gauge(out, "pinwright_printer_info", "gauge",
              "The printer's identity as it gives it (GS I 65, 66, 67).");
        out += "pinwright_printer_info{port=\"" + cli::MetricLabel(r.port) + "\",maker=\"" +
               cli::MetricLabel(r.maker) + "\",model=\"" + cli::MetricLabel(r.model) + "\",firmware=\"" +
               cli::MetricLabel(r.firmware) + "\"} 1\n";
    }
    return out;
}

void SetUpRoutes(httplib::Server& server, const ServerParts& p) {
    server.set_payload_max_length(4096);
    // Headers and body go out as two writes: without this, Nagle and a delayed ACK add 40 ms to each answer.
    server.set_tcp_nodelay(true);
    // Each connection holds a worker thread while it idles between requests or sends one slowly, and a stop
    // waits for every worker: these bound how long SIGTERM takes with Prometheus's kept-alive connections
    // open, and how long an idle client keeps a worker from probes.
    server.set_read_timeout(5, 0);
    server.set_write_timeout(10, 0);
    server.set_keep_alive_timeout(5);

    server.set_pre_routing_handler([p](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET");
            res.set_content("only GET\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!p.passwords->Any()) return httplib::Server::HandlerResponse::Unhandled;
        const std::string auth = req.get_header_value("Authorization");
        std::string decoded;
        bool good = false;
        if (auth.size() > 6 && auth.compare(0, 6, "Basic ") == 0 && auth.size() < 1024 &&
            Base64Decode(auth.substr(6), decoded)) {
            const std::size_t colon = decoded.find(':');
            if (colon != std::string::npos)
                good = p.passwords->Good(decoded.substr(0, colon), decoded.substr(colon + 1));
        }
        if (good) return httplib::Server::HandlerResponse::Unhandled;
        ++p.counters->unauthorized;
        p.log->Log(LogLevel::Warn, "unauthorized", {{"remote", req.remote_addr}, {"path", req.path}});
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"pinwright_exporter\", charset=\"UTF-8\"");
        res.set_content("Unauthorized\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });

    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<!DOCTYPE html>\n<html><head><title>pinwright_exporter</title></head><body>\n"
                        "<h1>pinwright_exporter</h1>\n<p>Reads the real-time status of ESC/POS receipt "
                        "printers when Prometheus asks.</p>\n<ul>\n"
                        "<li><a href=\"metrics\">metrics</a>: the exporter's own</li>\n"
                        "<li>probe?target=PORT&amp;module=NAME: one printer (a target the configuration "
                        "allows)</li>\n</ul>\n</body></html>\n",
                        "text/html; charset=utf-8");
    });

    server.Get("/metrics", [p](const httplib::Request&, httplib::Response& res) {
        const Counters& c = *p.counters;
        std::string out;
        Gauge(out, "pinwright_exporter_build_info", "gauge", "The exporter's version.");
        out += std::string("pinwright_exporter_build_info{version=\"") + PINWRIGHT_VERSION + "\"} 1\n";
        Gauge(out, "pinwright_exporter_probes_total", "counter", "Probes answered, by their result.");
        out +=
            "pinwright_exporter_probes_total{result=\"success\"} " + std::to_string(c.success.load()) + "\n";
        out +=
            "pinwright_exporter_probes_total{result=\"failure\"} " + std::to_string(c.failure.load()) + "\n";
        Gauge(
            out, "pinwright_exporter_refused_total", "counter",
            "Requests refused: a target not allowed (403), too many at once (503), a malformed request (400) "
            "or without good credentials (401).");
        out += "pinwright_exporter_refused_total{reason=\"forbidden\"} " + std::to_string(c.refused.load()) +
               "\n";
        out +=
            "pinwright_exporter_refused_total{reason=\"limit\"} " + std::to_string(c.limited.load()) + "\n";
        out += "pinwright_exporter_refused_total{reason=\"bad_request\"} " +
               std::to_string(c.badRequests.load()) + "\n";
        out += "pinwright_exporter_refused_total{reason=\"unauthorized\"} " +
               std::to_string(c.unauthorized.load()) + "\n";
        Gauge(out, "pinwright_exporter_exchanges_total", "counter",
              "Probes by how they were answered: an exchange with the printer, a share of another probe's "
              "exchange, a result reused within the minimum interval.");
        out += "pinwright_exporter_exchanges_total{how=\"exchanged\"} " + std::to_string(c.exchanges.load()) +
               "\n";
        out += "pinwright_exporter_exchanges_total{how=\"shared\"} " + std::to_string(c.shared.load()) + "\n";
        out += "pinwright_exporter_exchanges_total{how=\"reused\"} " + std::to_string(c.reused.load()) + "\n";
        Gauge(out, "pinwright_exporter_probes_in_flight", "gauge", "Probes being answered now.");
        out += "pinwright_exporter_probes_in_flight " + std::to_string(c.inFlight.load()) + "\n";
        Gauge(out, "pinwright_exporter_targets_held", "gauge", "Targets whose results are kept.");
        out += "pinwright_exporter_targets_held " + std::to_string(p.prober->TargetsHeld()) + "\n";
        res.set_content(out, kTextFormat);
    });

    server.Get("/probe", [p](const httplib::Request& req, httplib::Response& res) {
        const Clock::time_point start = Clock::now();
        const ExporterConfig& config = *p.config;
        auto bad = [&](int status, const std::string& text) {
            res.status = status;
            res.set_content(text + "\n", "text/plain; charset=utf-8");
        };
        if (req.get_param_value_count("target") != 1 || req.get_param_value_count("module") > 1) {
            ++p.counters->badRequests;
            return bad(400, "give one target=PORT and at most one module=NAME");
        }
        const std::string target = req.get_param_value("target");
        const std::string moduleName = req.has_param("module") ? req.get_param_value("module") : "default";
        if (target.size() > config.maxTargetLength) {
            ++p.counters->badRequests;
            return bad(400,
                       "the target is longer than " + std::to_string(config.maxTargetLength) + " characters");
        }
        const auto module = config.modules.find(moduleName);
        if (module == config.modules.end()) {
            ++p.counters->badRequests;
            p.log->Log(LogLevel::Warn, "unknown module",
                       {{"module", moduleName}, {"remote", req.remote_addr}});
            return bad(400, "unknown module " + cli::MetricLabel(moduleName));
        }
        const TargetDecision decision = CheckTarget(config.allow, target);
        if (!decision.allowed) {
            ++p.counters->refused;
            p.log->Log(LogLevel::Warn, "probe refused",
                       {{"target", target}, {"reason", decision.reason}, {"remote", req.remote_addr}});
            return bad(403, "probe refused: " + cli::MetricLabel(decision.reason));
        }
        const double seconds = ProbeSeconds(module->second.timeoutSeconds,
                                            req.get_header_value("X-Prometheus-Scrape-Timeout-Seconds"));
        const Clock::time_point deadline =
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        ++p.counters->inFlight;
        Prober::Answer a = p.prober->Probe(decision.key, moduleName, module->second, deadline);
        a.result.port = target; // the labels name the printer as this scrape did
        --p.counters->inFlight;
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        switch (a.outcome) {
        case Prober::Outcome::Limited:
            ++p.counters->limited;
            p.log->Log(
                LogLevel::Warn, "probe refused",
                {{"target", target}, {"reason", "too many exchanges at once"}, {"remote", req.remote_addr}});
            return bad(503, "too many probes at once: raise limits.concurrent_probes or scrape less at once");
        case Prober::Outcome::Exchanged:
            ++p.counters->exchanges;
            break;
        case Prober::Outcome::Shared:
            ++p.counters->shared;
            break;
        case Prober::Outcome::Reused:
            ++p.counters->reused;
            break;
        case Prober::Outcome::Waited:
            break;
        }
        if (a.result.haveStatus) {
            ++p.counters->success;
        } else {
            ++p.counters->failure;
            const std::string why =
                a.outcome == Prober::Outcome::Waited
                    ? "the timeout passed while another probe of this printer was talking to it"
                    : a.result.error;
            p.log->Log(LogLevel::Warn, "probe failed",
                       {{"target", target}, {"module", moduleName}, {"error", why}});
        }
        res.set_content(ProbeText(a, took), kTextFormat);
    });
}

} // namespace pw::exporter
