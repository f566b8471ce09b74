// The exporter's rules without a network: which targets may be probed, its two files, how probes of one
// printer share its exchange (on a clock the test moves), passwords, and the text of an answer.
#include "exporter/exporter_config.h"
#include "exporter/prober.h"
#include "exporter/server.h"
#include "exporter/target_policy.h"

#include <gtest/gtest.h>

#include <crypt.h>

#include <set>
#include <stdexcept>
#include <thread>

namespace pw::exporter {
namespace {

std::vector<AllowEntry> Allow(std::initializer_list<const char*> entries) {
    std::vector<AllowEntry> out;
    for (const char* text : entries) {
        AllowEntry e;
        std::string error;
        EXPECT_TRUE(ParseAllowEntry(text, e, error)) << text << ": " << error;
        out.push_back(e);
    }
    return out;
}

TEST(TargetPolicy, AllowsOnlyWhatTheListNamesWhateverTheSpelling) {
    const auto allow = Allow(
        {"10.0.0.0/24", "10.0.1.5:9101", "[fd00:1::]/64", "Printer-7.Shop.LAN", "/dev/ttyUSB0", "COM3"});
    struct Case {
        const char* target;
        bool allowed;
    } cases[] = {
        {"tcp://10.0.0.5", true},
        {"tcp://10.0.0.5:9100", true},
        {"tcp://10.0.0.255", true},
        {"tcp://10.0.0.5:9101", false}, // other port
        {"tcp://10.0.1.5:9101", true},
        {"tcp://10.0.1.5", false}, // the host is listed with 9101 only
        {"tcp://10.0.2.5", false}, // other host
        {"tcp://127.0.0.1", false},
        {"tcp://[::ffff:10.0.0.5]", false}, // IPv4 inside IPv6, even of an allowed address
        {"tcp://[::ffff:127.0.0.1]", false},
        {"tcp://[::ffff:a00:5]", false},
        {"tcp://[::10.0.0.5]", false},
        {"tcp://[64:ff9b::a00:5]", false},
        {"tcp://10.5", false}, // short forms
        {"tcp://10.0.5", false},
        {"tcp://167772165", false}, // 10.0.0.5 as one number
        {"tcp://012.0.0.5", false}, // octal
        {"tcp://010.0.0.5", false},
        {"tcp://0xa.0.0.5", false}, // hexadecimal
        {"tcp://0x0a000005", false},
        {"tcp://10.0.0.5.", false},
        {"tcp://10.0.0.5:09100", true}, // decimal whatever its zeros: the port the connection takes
        {"tcp://10.0.0.5:9100/", false},
        {"tcp://user@10.0.0.5", false},
        {"tcp://10.0.0.5%2f", false},
        {"TCP://10.0.0.5", false}, // not the network form: a device, and not a listed one
        {"tcp://[fd00:1::7]", true},
        {"tcp://[fd00:1:0:0::7]", true},
        {"tcp://[FD00:1::7]", true},
        {"tcp://[fd00:2::7]", false},
        {"tcp://[fe80::1%25eth0]", false},
        {"tcp://[fe80::1%eth0]", false},
        {"tcp://printer-7.shop.lan", true}, // a listed name, any letter case, its port
        {"tcp://PRINTER-7.shop.lan.", true},
        {"tcp://printer-7.shop.lan:9101", false},
        {"tcp://printer-8.shop.lan", false},
        {"tcp://localhost", false}, // a name that resolves inside a network is still not listed
        {"tcp://printer-7.shop.lan.evil.example", false},
        {"/dev/ttyUSB0", true},
        {"/dev/ttyUSB1", false},
        {"/dev//ttyUSB0", false},
        {"/dev/./ttyUSB0", false},
        {"/dev/ttyUSB0/../ttyS0", false},
        {"/dev/ttyUSB0\n", false},
        {"COM3", true},
        {"com3", true},
        {"COM4", false},
        {"COM03", false},
        {"", false},
        {"tcp://", false},
    };
    for (const Case& c : cases) {
        const TargetDecision d = CheckTarget(allow, c.target);
        EXPECT_EQ(d.allowed, c.allowed) << c.target << ": " << d.reason;
        if (!d.allowed) {
            EXPECT_FALSE(d.reason.empty()) << c.target;
        } else {
            // The exchange is made with the key: it is allowed as itself.
            const TargetDecision again = CheckTarget(allow, d.key);
            EXPECT_TRUE(again.allowed && again.key == d.key) << c.target << " -> " << d.key;
        }
    }
    EXPECT_NE(CheckTarget(Allow({"10.0.0.0/24"}), "tcp://[::ffff:10.0.0.5]").reason.find("IPv4"),
              std::string::npos);
}

TEST(TargetPolicy, NothingIsAllowedWithoutAListAndTheRefusalSaysHowToAllow) {
    const TargetDecision d = CheckTarget({}, "tcp://10.0.0.5");
    EXPECT_FALSE(d.allowed);
    EXPECT_NE(d.reason.find("targets: allow:"), std::string::npos);
    EXPECT_NE(d.reason.find("--config.file"), std::string::npos);
}

TEST(TargetPolicy, EverySpellingOfOnePrinterHasOneKey) {
    const auto allow = Allow({"10.0.0.0/24", "[fd00:1::]/64", "Printer-7.Shop.LAN", "COM3", "/dev/ttyUSB0"});
    const std::vector<std::vector<const char*>> printers = {
        {"tcp://10.0.0.5", "tcp://10.0.0.5:9100", "tcp://10.0.0.5:09100"},
        {"tcp://[fd00:1::7]", "tcp://[FD00:1:0:0::7]:9100", "tcp://[fd00:1:0:0:0:0:0:7]"},
        {"tcp://printer-7.shop.lan", "tcp://PRINTER-7.shop.lan.", "tcp://Printer-7.Shop.LAN:9100"},
        {"COM3", "com3", "Com3"},
        {"/dev/ttyUSB0"},
    };
    std::set<std::string> keys;
    for (const auto& spellings : printers) {
        const std::string key = CheckTarget(allow, spellings.front()).key;
        EXPECT_FALSE(key.empty()) << spellings.front();
        for (const char* s : spellings) EXPECT_EQ(CheckTarget(allow, s).key, key) << s;
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), printers.size()) << "two printers under one key";
    EXPECT_EQ(CheckTarget(allow, "tcp://PRINTER-7.shop.lan.").key, "tcp://printer-7.shop.lan:9100");
    EXPECT_EQ(CheckTarget(allow, "com3").key, "COM3"); // as -p takes it: "com3" names no port there
    EXPECT_EQ(CheckTarget(allow, "tcp://10.0.1.5").key, "") << "a refused target has no key";
}

TEST(TargetPolicy, NetworksCoverTheirPrefixOnly) {
    EXPECT_TRUE(CheckTarget(Allow({"0.0.0.0/0"}), "tcp://203.0.113.9").allowed);
    EXPECT_FALSE(CheckTarget(Allow({"0.0.0.0/0"}), "tcp://[2001:db8::1]").allowed); // another family
    EXPECT_TRUE(CheckTarget(Allow({"192.168.4.0/22"}), "tcp://192.168.7.255").allowed);
    EXPECT_FALSE(CheckTarget(Allow({"192.168.4.0/22"}), "tcp://192.168.8.0").allowed);
    EXPECT_FALSE(CheckTarget(Allow({"192.168.4.0/22"}), "tcp://192.168.3.255").allowed);
    EXPECT_TRUE(CheckTarget(Allow({"10.9.8.7"}), "tcp://10.9.8.7").allowed);
    EXPECT_FALSE(CheckTarget(Allow({"10.9.8.7"}), "tcp://10.9.8.6").allowed);
    EXPECT_TRUE(CheckTarget(Allow({"fd00::/7"}), "tcp://[fdff::1]").allowed);
    EXPECT_FALSE(CheckTarget(Allow({"fd00::/7"}), "tcp://[fe00::1]").allowed);
}

TEST(TargetPolicy, AllowEntriesThatWouldMeanMoreThanTheySayAreRefused) {
    for (const char* bad : {"", "10.0.0.0/33", "10.0.0.0/024", "10.0.0.0/", "10.0.0.0/24:9100", "010.0.0.0/8",
                            "10.1/16", "::ffff:10.0.0.0/120", "[::ffff:10.0.0.5]", "/dev/../etc/passwd",
                            "/dev/ttyUSB0/", "/dev//x", "fe80::/10%eth0", "a\tb", "10.0.0.5:70000"}) {
        AllowEntry e;
        std::string error;
        EXPECT_FALSE(ParseAllowEntry(bad, e, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(ExporterConfig, ReadsTheDocumentedShapeAndRefusesWhatItDoesNotKnow) {
    ExporterConfig c;
    std::string error;
    ASSERT_TRUE(ParseExporterConfig(R"(
targets:
  allow: [10.0.0.0/24, "10.0.1.5:9100", /dev/ttyUSB0]
modules:
  default: {timeout: 5s}
  serial_auto: {baud: auto, identity: true}
  slow: {timeout: 1500ms, baud: 19200, data_bits: 7, parity: even, stop_bits: 2}
min_interval: 3s
limits: {concurrent_probes: 8}
)",
                                    c, error))
        << error;
    ASSERT_EQ(c.allow.size(), 3u);
    EXPECT_EQ(c.allow[2].kind, AllowEntry::Kind::Device);
    EXPECT_EQ(c.modules.size(), 3u);
    EXPECT_DOUBLE_EQ(c.modules["default"].timeoutSeconds, 5);
    EXPECT_TRUE(c.modules["serial_auto"].line.autoBaud);
    EXPECT_TRUE(c.modules["serial_auto"].identity);
    EXPECT_FALSE(c.modules["default"].identity);
    const Module& slow = c.modules["slow"];
    EXPECT_DOUBLE_EQ(slow.timeoutSeconds, 1.5);
    EXPECT_EQ(slow.line.baud, 19200);
    EXPECT_EQ(slow.line.dataBits, 7);
    EXPECT_EQ(slow.line.parity, 2);
    EXPECT_EQ(slow.line.stopBits, 2);
    EXPECT_DOUBLE_EQ(c.minIntervalSeconds, 3);
    EXPECT_EQ(c.maxConcurrentProbes, 8);

    ASSERT_TRUE(ParseExporterConfig("", c, error));
    EXPECT_TRUE(c.allow.empty());
    EXPECT_EQ(c.modules.count("default"), 1u);

    const std::pair<const char*, const char*> bad[] = {
        {"target: {allow: [10.0.0.1]}", "unknown key config.target"},
        {"targets: {allow: [10.0.0.0/33]}", "10.0.0.0/33"},
        {"targets: {allow: 10.0.0.1}", "must be a list"},
        {"modules: {m: {baud: 4800}}", "modules.m.baud"},
        {"modules: {m: {timout: 5s}}", "unknown key modules.m.timout"},
        {"modules: {m: {timeout: 0s}}", "modules.m.timeout"},
        {"modules: {m: {timeout: 5 s}}", "modules.m.timeout"},
        {"modules: {m: {identity: yes please}}", "modules.m.identity"},
        {"modules: {\"a b\": {}}", "module names"},
        {"min_interval: -1s", "min_interval"},
        {"limits: {concurrent_probes: 0}", "limits.concurrent_probes"},
        {"targets: [", "not YAML"},
        // A second key of one name would pass unseen: the first one counts.
        {"targets: {allow: [10.0.0.1]}\ntargets: {allow: [0.0.0.0/0]}", "targets is given twice"},
        {"min_interval: 1s\nmin_interval: 1ms", "min_interval is given twice"},
        {"modules: {m: {timeout: 1s, timeout: 9s}}", "timeout is given twice"},
        {"modules: {m: {}, m: {identity: true}}", "m is given twice"},
    };
    for (const auto& [text, says] : bad) {
        EXPECT_FALSE(ParseExporterConfig(text, c, error)) << text;
        EXPECT_NE(error.find(says), std::string::npos) << text << " -> " << error;
    }
}

TEST(ExporterConfig, WebConfigTakesTheToolkitsKeysAndChecksThem) {
    WebConfig w;
    std::string error;
    const std::string hash = "$2y$10$7QjSg0l1M0y3B4J0E3k2Oe4bB7Yb8S9C0D1E2F3G4H5I6J7K8L9Ma";
    ASSERT_EQ(hash.size(), 60u);
    ASSERT_TRUE(ParseWebConfig("tls_server_config:\n  cert_file: s.crt\n  key_file: s.key\n"
                               "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
                               "  min_version: TLS13\nbasic_auth_users:\n  alice: " +
                                   hash + "\n",
                               w, error))
        << error;
    EXPECT_TRUE(w.tls);
    EXPECT_EQ(w.clientAuthType, "RequireAndVerifyClientCert");
    EXPECT_EQ(w.minVersion, "TLS13");
    EXPECT_EQ(w.users.at("alice"), hash);
    const std::pair<std::string, const char*> bad[] = {
        {"tls_server_config: {cert_file: a}", "needs cert_file and key_file"},
        {"tls_server_config: {cert_file: a, key_file: b, client_auth_type: RequireAndVerifyClientCert}",
         "needs client_ca_file"},
        {"tls_server_config: {cert_file: a, key_file: b, min_version: SSL3}", "versions"},
        {"tls_server_config: {cert_file: a, key_file: b, min_version: TLS13, max_version: TLS12}", "above"},
        {"tls_server_config: {cert_file: a, key_file: b, cipher_suite: x}", "unknown key"},
        {"basic_auth_users: {alice: secret}", "not a bcrypt hash"},
        {"basic_auth_users: {\"a:b\": " + hash + "}", "colon"},
        {"basic_auth: {}", "unknown key"},
        {"basic_auth_users: {alice: " + hash + ", alice: " + hash + "}", "alice is given twice"},
    };
    for (const auto& [text, says] : bad) {
        EXPECT_FALSE(ParseWebConfig(text, w, error)) << text;
        EXPECT_NE(error.find(says), std::string::npos) << text << " -> " << error;
    }
}

TEST(ExporterConfig, AFileThatNeverEndsIsRefusedAtTheLimit) {
    std::string text, error;
    EXPECT_FALSE(ReadTextFile("/dev/zero", text, error));
    EXPECT_NE(error.find("larger than 1 MiB"), std::string::npos) << error;
    EXPECT_LE(text.capacity(), 2u << 20);
    EXPECT_FALSE(ReadTextFile("/nonexistent/exporter.yml", text, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
}

TEST(ExporterConfig, Durations) {
    double s = 0;
    EXPECT_TRUE(ParseDuration("5s", s) && s == 5);
    EXPECT_TRUE(ParseDuration("250ms", s) && s == 0.25);
    EXPECT_TRUE(ParseDuration("2m", s) && s == 120);
    EXPECT_TRUE(ParseDuration("9.5", s) && s == 9.5); // as Prometheus's scrape timeout header gives it
    for (const char* bad : {"", "s", "0", "0s", "-1s", "1h", "1.2.3s", ".5s", "5 s", "nan", "inf", "1e9"})
        EXPECT_FALSE(ParseDuration(bad, s)) << bad;
}

// A printer that answers when the test lets it, counting the exchanges.
struct HeldPrinter {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> exchanges{0};
    std::atomic<int> atOnce{0}, mostAtOnce{0};

    Exchange Fn() {
        return [this](const std::string& target, const Module&, Clock::time_point) {
            ++exchanges;
            const int now = ++atOnce;
            int most = mostAtOnce.load();
            while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {}
            std::unique_lock lock(mutex);
            cv.wait(lock, [this] { return open; });
            --atOnce;
            cli::PortResult r;
            r.port = target;
            r.haveStatus = true;
            r.status.paper = Paper::Out;
            return r;
        };
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};

struct VirtualClock {
    std::atomic<std::int64_t> ms{0};
    std::function<Clock::time_point()> Fn() {
        return [this] { return Clock::time_point(std::chrono::milliseconds(ms.load())); };
    }
};

Clock::time_point Later(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

TEST(Prober, ProbesOfOnePrinterAtOnceShareOneExchange) {
    HeldPrinter printer;
    VirtualClock clock;
    Prober prober(printer.Fn(), clock.Fn(), 5, 4);
    const Module m;
    std::vector<std::thread> probes;
    std::atomic<int> exchanged{0}, shared{0}, paperOut{0}, started{0};
    for (int i = 0; i < 200; ++i)
        probes.emplace_back([&] {
            ++started;
            const Prober::Answer a = prober.Probe("tcp://10.0.0.5:9100", "default", m, Later(20000));
            exchanged += a.outcome == Prober::Outcome::Exchanged;
            // A probe that came once the exchange had ended takes its result as reused (the clock stands).
            shared += a.outcome == Prober::Outcome::Shared || a.outcome == Prober::Outcome::Reused;
            paperOut += a.result.haveStatus && a.result.status.paper == Paper::Out;
        });
    while (printer.exchanges.load() == 0 || started.load() < 200) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the others queue behind the first
    printer.Open();
    for (std::thread& t : probes) t.join();
    EXPECT_EQ(printer.exchanges.load(), 1);
    EXPECT_EQ(printer.mostAtOnce.load(), 1);
    EXPECT_EQ(exchanged.load(), 1);
    EXPECT_EQ(exchanged.load() + shared.load(), 200) << "every probe took the one exchange's result";
    EXPECT_EQ(paperOut.load(), 200);
}

TEST(Prober, AResultIsReusedForTheMinimumIntervalOnly) {
    HeldPrinter printer;
    printer.Open();
    VirtualClock clock;
    Prober prober(printer.Fn(), clock.Fn(), 5, 4);
    const Module m;
    EXPECT_EQ(prober.Probe("COM3", "default", m, Later(1000)).outcome, Prober::Outcome::Exchanged);
    clock.ms = 4999;
    const Prober::Answer again = prober.Probe("COM3", "default", m, Later(1000));
    EXPECT_EQ(again.outcome, Prober::Outcome::Reused);
    EXPECT_NEAR(again.ageSeconds, 4.999, 1e-9);
    EXPECT_EQ(printer.exchanges.load(), 1);
    // Another module asks other things: its own exchange.
    EXPECT_EQ(prober.Probe("COM3", "identity", m, Later(1000)).outcome, Prober::Outcome::Exchanged);
    clock.ms = 5000;
    EXPECT_EQ(prober.Probe("COM3", "default", m, Later(1000)).outcome, Prober::Outcome::Exchanged);
    EXPECT_EQ(printer.exchanges.load(), 3);
}

TEST(Prober, ASilentPrinterHoldsUpNoOtherPrinterAndItsOwnWaitersGiveUpInTime) {
    HeldPrinter silent, healthy;
    healthy.Open();
    VirtualClock clock;
    Prober prober(
        [&](const std::string& target, const Module& m, Clock::time_point deadline) {
            return target == "tcp://10.0.0.9:9100" ? silent.Fn()(target, m, deadline)
                                                   : healthy.Fn()(target, m, deadline);
        },
        clock.Fn(), 5, 4);
    const Module m;
    std::thread first([&] { prober.Probe("tcp://10.0.0.9:9100", "default", m, Later(20000)); });
    while (silent.exchanges.load() == 0) std::this_thread::yield();
    const auto start = Clock::now();
    EXPECT_TRUE(prober.Probe("tcp://10.0.0.5:9100", "default", m, Later(20000)).result.haveStatus);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    // A second probe of the silent printer waits for the exchange in progress, up to its own deadline.
    const Prober::Answer waited = prober.Probe("tcp://10.0.0.9:9100", "default", m, Later(100));
    EXPECT_EQ(waited.outcome, Prober::Outcome::Waited);
    EXPECT_FALSE(waited.result.haveStatus);
    EXPECT_EQ(silent.exchanges.load(), 1) << "the waiter did not open a second conversation";
    silent.Open();
    first.join();
}

TEST(Prober, ExchangesBeyondTheLimitAreRefused) {
    HeldPrinter printer;
    VirtualClock clock;
    Prober prober(printer.Fn(), clock.Fn(), 5, 1);
    const Module m;
    std::thread first([&] { prober.Probe("tcp://10.0.0.1:9100", "default", m, Later(20000)); });
    while (printer.exchanges.load() == 0) std::this_thread::yield();
    EXPECT_EQ(prober.Probe("tcp://10.0.0.2:9100", "default", m, Later(1000)).outcome,
              Prober::Outcome::Limited);
    EXPECT_EQ(prober.InFlight(), 1);
    printer.Open();
    first.join();
    EXPECT_EQ(prober.InFlight(), 0);
    EXPECT_EQ(prober.Probe("tcp://10.0.0.2:9100", "default", m, Later(1000)).outcome,
              Prober::Outcome::Exchanged);
}

TEST(Prober, AnExchangeThatThrowsLeavesItsTargetFree) {
    VirtualClock clock;
    int calls = 0;
    Prober prober(
        [&](const std::string& target, const Module&, Clock::time_point) {
            if (++calls == 1) throw std::runtime_error("no thread");
            cli::PortResult r;
            r.port = target;
            r.haveStatus = true;
            return r;
        },
        clock.Fn(), 5, 1);
    const Module m;
    EXPECT_THROW(prober.Probe("COM3", "default", m, Later(1000)), std::runtime_error);
    EXPECT_EQ(prober.InFlight(), 0);
    const Prober::Answer again = prober.Probe("COM3", "default", m, Later(100));
    EXPECT_EQ(again.outcome, Prober::Outcome::Exchanged) << "not waiting for an exchange that is over";
    EXPECT_TRUE(again.result.haveStatus);
    EXPECT_EQ(prober.Probe("COM4", "default", m, Later(100)).outcome, Prober::Outcome::Exchanged)
        << "the limit of one exchange at once is free again";
}

TEST(Prober, IdleTargetsAreForgotten) {
    HeldPrinter printer;
    printer.Open();
    VirtualClock clock;
    Prober prober(printer.Fn(), clock.Fn(), 1, 4);
    const Module m;
    for (int i = 0; i < 3000; ++i) {
        clock.ms += 2000;
        prober.Probe("tcp://10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ":9100",
                     "default", m, Later(1000));
    }
    EXPECT_LE(prober.TargetsHeld(), 1025u);
}

TEST(PasswordCheck, BcryptHashesGoodAndBadAndRemembered) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    ASSERT_NE(crypt_gensalt_rn("$2b$", 4, nullptr, 0, salt, sizeof salt), nullptr);
    crypt_data data{};
    const std::string hash = crypt_r("s3cret:with colon", salt, &data);
    ASSERT_EQ(hash.size(), 60u);
    PasswordCheck check({{"alice", hash}});
    EXPECT_TRUE(check.Any());
    EXPECT_TRUE(check.Good("alice", "s3cret:with colon"));
    EXPECT_TRUE(check.Good("alice", "s3cret:with colon")); // remembered
    EXPECT_FALSE(check.Good("alice", "s3cret:with colo"));
    EXPECT_FALSE(check.Good("alice", std::string("s3cret:with colon\0x", 19)));
    EXPECT_FALSE(check.Good("bob", "s3cret:with colon"));
    EXPECT_FALSE(check.Good("", ""));
    EXPECT_FALSE(PasswordCheck({}).Any());
}

TEST(ExporterTimeout, AProbeEndsWithinTheScrapesTimeoutHoweverShort) {
    EXPECT_EQ(ProbeSeconds(5, ""), 5);
    EXPECT_EQ(ProbeSeconds(5, "10"), 5);
    EXPECT_DOUBLE_EQ(ProbeSeconds(5, "1.5"), 1.0); // Prometheus's own half-second margin
    for (const char* given : {"0.9", "0.3", "0.05", "0.001"}) {
        EXPECT_LT(ProbeSeconds(5, given), std::stod(given)) << given;
        EXPECT_GT(ProbeSeconds(5, given), 0) << given;
    }
    for (const char* junk : {"0", "-1", "nan", "inf", "1e9", "0x10", " 1", "abc"})
        EXPECT_EQ(ProbeSeconds(5, junk), 5) << junk;
}

TEST(ProbeText, PrinterTextsAreEscapedAndAWaitedProbeSaysNothingOfThePrinter) {
    Prober::Answer a;
    a.result.port = "tcp://10.0.0.5:9100";
    a.result.haveStatus = true;
    a.result.haveIdentity = true;
    a.result.maker = "A\"cme\\\n}";
    a.result.model = std::string("LTX\xff", 4);
    a.result.firmware = "1.0";
    const std::string text = ProbeText(a, 0.25);
    EXPECT_NE(text.find("probe_success 1\n"), std::string::npos);
    EXPECT_NE(text.find("probe_duration_seconds 0.25\n"), std::string::npos);
    EXPECT_NE(text.find("pinwright_printer_paper_out{port=\"tcp://10.0.0.5:9100\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("maker=\"A\\\"cme\\\\\\n}\",model=\"LTX\xEF\xBF\xBD\""), std::string::npos) << text;
    a.outcome = Prober::Outcome::Waited;
    a.result = {};
    const std::string waited = ProbeText(a, 3);
    EXPECT_NE(waited.find("probe_success 0\n"), std::string::npos);
    EXPECT_EQ(waited.find("pinwright_printer_up"), std::string::npos);
}

} // namespace
} // namespace pw::exporter
