// pinwright-cli status against pinwright-sim on a pseudo-terminal and on loopback: the real-time status
// decoded, the exit status a monitor acts on, the metrics file a Prometheus parser reads, and --timeout.
#include "tests/support/cli_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

class CliStatus : public CliFixture, public ::testing::WithParamInterface<Link> {
  protected:
    std::unique_ptr<SimProcess> Printer(const std::string& name, std::vector<std::string> extra = {}) {
        return Sim(name, std::move(extra), GetParam());
    }
};

// The samples of a metrics file as the Prometheus client's parser reads it, by "name{labels}". A copy of
// the tests run elsewhere (as another user) is told where the reader is.
Json ReadMetrics(const std::string& path) {
    const char* given = std::getenv("PINWRIGHT_READ_METRICS");
    const std::string reader = given && *given ? given : PINWRIGHT_READ_METRICS;
    // Bounded: the parser is ended after 30 s.
    const std::string command = "timeout -k 5 30 /usr/bin/python3 '" + reader + "' '" + path + "'";
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p) return nullptr;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    if (::pclose(p) != 0) return nullptr;
    return Json::parse(out);
}

TEST_P(CliStatus, AHealthyPrinterIsReadWithTheFourQueriesOnlyAndExitsZero) {
    auto sim = Printer("p");
    const std::string port = PortOf(*sim);
    auto text = RunCli({"-p", port, "status"});
    ASSERT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("status: ok\nonline: yes\ncover-open: no\npaper: ok\nfeed-button: no\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("errors: none\n"), std::string::npos) << text.out;
    auto json = RunCli({"--json", "-p", port, "status"});
    ASSERT_EQ(json.exit, 0) << json.err;
    const Json j = Json::parse(json.out);
    EXPECT_EQ(j["port"], port);
    EXPECT_EQ(j["status"]["online"], true);
    EXPECT_EQ(j["status"]["paper"], "ok");
    EXPECT_EQ(j["status"]["errors"], Json::array());
    EXPECT_FALSE(j.contains("exit"));
    // Nothing but DLE EOT 1 to 4: no ESC @ to clear a receipt being printed, no identification.
    const std::string log = sim->Stderr();
    EXPECT_EQ(Count(log, "<- 10 04 01"), 2u) << log;
    for (const char* query : {"10 04 02", "10 04 03", "10 04 04"}) EXPECT_EQ(Count(log, query), 2u) << query;
    EXPECT_EQ(log.find("1B 40"), std::string::npos) << log;
    EXPECT_EQ(log.find("1D 49"), std::string::npos) << log;
}

TEST_P(CliStatus, APrinterThatNeverAnswersIsExitThreeNamingTheQueryWithinItsWait) {
    auto sim = Printer("p", {"--fault", "silent"});
    const auto start = Clock::now();
    auto run = RunCli({"--json", "-p", PortOf(*sim), "status"});
    EXPECT_LT(SecondsSince(start), 2.0 + 5.0) << "one 2 s wait, and the close";
    EXPECT_EQ(run.exit, 3) << run.err;
    const Json j = Json::parse(run.out);
    EXPECT_EQ(j["error"], "the printer did not answer DLE EOT 1.");
    EXPECT_FALSE(j.contains("status"));
}

class CliMetrics : public CliFixture {};

// Each status fault of the printer, as the text and the JSON give it and the exit status a monitor acts on.
struct FaultCase {
    const char* fault;
    int exit;
    const char* summary;
    bool online, coverOpen;
    const char* paper;
    bool feedButton, drawerOpen;
    std::vector<std::string> errors;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << (*c.fault ? c.fault : "none");
}

class CliStatusFaults : public CliFixture,
                        public ::testing::WithParamInterface<std::tuple<FaultCase, Link>> {};

TEST_P(CliStatusFaults, EachFaultIsSaidByItsBitsWithExitFiveOnlyWhenAPersonIsNeeded) {
    const auto& [c, link] = GetParam();
    std::vector<std::string> extra;
    if (*c.fault) extra = {"--fault", c.fault};
    auto sim = Sim("p", extra, link);
    const std::string port = PortOf(*sim);
    auto json = RunCli({"--json", "-p", port, "status"});
    EXPECT_EQ(json.exit, c.exit) << json.err;
    const Json j = Json::parse(json.out);
    const Json expected = {
        {"online", c.online},          {"cover-open", c.coverOpen},   {"paper", c.paper},
        {"feed-button", c.feedButton}, {"drawer-open", c.drawerOpen}, {"errors", c.errors}};
    EXPECT_EQ(j["status"], expected);
    auto text = RunCli({"-p", port, "status"});
    EXPECT_EQ(text.exit, c.exit);
    EXPECT_NE(text.out.find(std::string("status: ") + c.summary + "\n"), std::string::npos) << text.out;
    if (c.exit == 5) {
        EXPECT_EQ(j["error"], std::string(c.summary));
        EXPECT_NE(text.err.find(port + ": " + c.summary), std::string::npos) << text.err;
    } else {
        EXPECT_EQ(text.err, "");
    }
}

const FaultCase kFaults[] = {
    {"", 0, "ok", true, false, "ok", false, false, {}},
    {"paper-near-end", 0, "ok, paper near end", true, false, "near-end", false, false, {}},
    {"drawer-open", 0, "ok", true, false, "ok", false, true, {}},
    {"paper-out", 5, "needs attention: offline, paper out", false, false, "out", false, false, {}},
    {"cover-open", 5, "needs attention: offline, cover open", false, true, "ok", false, false, {}},
    {"offline", 5, "needs attention: offline", false, false, "ok", false, false, {}},
    {"feed-button", 5, "needs attention: offline", false, false, "ok", true, false, {}},
    {"cutter-error",
     5,
     "needs attention: offline, cutter error",
     false,
     false,
     "ok",
     false,
     false,
     {"cutter"}},
    {"unrecoverable-error",
     5,
     "needs attention: offline, unrecoverable error",
     false,
     false,
     "ok",
     false,
     false,
     {"unrecoverable"}},
    {"auto-recoverable-error",
     5,
     "needs attention: offline, auto-recoverable error",
     false,
     false,
     "ok",
     false,
     false,
     {"auto-recoverable"}},
};

INSTANTIATE_TEST_SUITE_P(Faults, CliStatusFaults,
                         ::testing::Combine(::testing::ValuesIn(kFaults),
                                            ::testing::Values(Link::Serial, Link::Network)));

TEST_F(CliMetrics, EveryStatusFaultIsItsGaugeAndSeveralPrintersAreOneFile) {
    auto nearEnd = Sim("a", {"--fault", "paper-near-end"}, Link::Network);
    auto out = Sim("b", {"--fault", "paper-out", "--fault", "cover-open", "--fault", "cutter-error"});
    const std::string metrics = Path("node.prom");
    const std::string a = PortOf(*nearEnd), b = PortOf(*out);
    auto run = RunCli({"-p", a, "-p", b, "status", "--metrics", metrics});
    EXPECT_EQ(run.exit, 5) << run.err;
    const Json m = ReadMetrics(metrics);
    ASSERT_TRUE(m.is_object()) << ReadWhole(metrics);
    auto at = [&](const std::string& name, const std::string& port, const std::string& more = "") {
        const std::string key = name + "{" + more + "port=" + port + "}";
        return m.contains(key) ? m[key].get<double>() : -1.0;
    };
    const std::pair<const char*, std::pair<double, double>> gauges[] = {
        {"pinwright_printer_up", {1, 1}},
        {"pinwright_printer_online", {1, 0}},
        {"pinwright_printer_needs_attention", {0, 1}},
        {"pinwright_printer_paper_near_end", {1, 0}},
        {"pinwright_printer_paper_out", {0, 1}},
        {"pinwright_printer_cover_open", {0, 1}},
    };
    for (const auto& [gauge, values] : gauges) {
        EXPECT_EQ(at(gauge, a), values.first) << gauge;
        EXPECT_EQ(at(gauge, b), values.second) << gauge;
    }
    EXPECT_EQ(at("pinwright_printer_error", b, "kind=cutter,"), 1);
    for (const char* kind : {"auto-recoverable", "unknown", "unrecoverable"})
        EXPECT_EQ(at("pinwright_printer_error", b, std::string("kind=") + kind + ","), 0) << kind;
}

TEST_P(CliStatus, AReplyOfTheWrongShapeIsAnUnreadableReplyNeverAGuessedStatus) {
    for (const char* reply : {"2:00", "3:FF", "4:1E", "1:93"}) {
        auto sim = Printer("p", {"--fault", std::string("status-byte=") + reply});
        auto run = RunCli({"--json", "-p", PortOf(*sim), "status"});
        const int query = reply[0] - '0';
        if (std::string(reply) == "4:1E") {
            // 1E has the shape: paper near end, nothing wrong.
            EXPECT_EQ(run.exit, 0) << reply << run.err;
            EXPECT_EQ(Json::parse(run.out)["status"]["paper"], "near-end");
            continue;
        }
        EXPECT_EQ(run.exit, 3) << reply << run.err;
        const Json j = Json::parse(run.out);
        EXPECT_FALSE(j.contains("status")) << reply;
        EXPECT_NE(
            j["error"].get<std::string>().find("answered DLE EOT " + std::to_string(query) + " with 0x"),
            std::string::npos)
            << j;
    }
}

TEST_P(CliStatus, APrinterThatAnswersOnlyTheFirstQueryIsGivenUpAtTheOneThatGetsNoAnswer) {
    for (int silent : {2, 3, 4}) {
        auto sim = Printer("p", {"--fault", "status-silent=" + std::to_string(silent)});
        const auto start = Clock::now();
        auto run = RunCli({"--json", "-p", PortOf(*sim), "status"});
        EXPECT_LT(SecondsSince(start), 2.0 + 5.0);
        EXPECT_EQ(run.exit, 3) << run.err;
        EXPECT_EQ(Json::parse(run.out)["error"],
                  "the printer did not answer DLE EOT " + std::to_string(silent) + ".");
    }
}

INSTANTIATE_TEST_SUITE_P(Links, CliStatus, ::testing::Values(Link::Serial, Link::Network));

TEST_F(CliMetrics, TheFileIsWhatAPrometheusParserReadsForEveryPortUpOrNotAndItIsReplacedWhole) {
    auto a = Sim("a", {}, Link::Network);
    auto silent = Sim("b", {"--fault", "silent"}, Link::Serial);
    const std::string metrics = Path("node.prom");
    { std::ofstream(metrics) << "stale\n"; }
    const std::string portA = PortOf(*a), portB = PortOf(*silent);
    auto run = RunCli({"-p", portA, "-p", portB, "status", "--metrics", metrics});
    EXPECT_EQ(run.exit, 3) << run.err;
    const Json m = ReadMetrics(metrics);
    ASSERT_TRUE(m.is_object()) << ReadWhole(metrics);
    auto at = [&](const std::string& name, const std::string& port, const std::string& more = "") {
        const std::string key = name + "{" + more + "port=" + port + "}";
        return m.contains(key) ? m[key].get<double>() : -1.0;
    };
    EXPECT_EQ(at("pinwright_printer_up", portA), 1);
    EXPECT_EQ(at("pinwright_printer_up", portB), 0);
    EXPECT_EQ(at("pinwright_printer_online", portA), 1);
    for (const char* gauge : {"pinwright_printer_paper_near_end", "pinwright_printer_paper_out",
                              "pinwright_printer_cover_open", "pinwright_printer_needs_attention"}) {
        EXPECT_EQ(at(gauge, portA), 0) << gauge;
        EXPECT_EQ(at(gauge, portB), -1) << gauge << ": a printer that did not answer has no status";
    }
    for (const char* kind : {"auto-recoverable", "cutter", "unknown", "unrecoverable"})
        EXPECT_EQ(at("pinwright_printer_error", portA, std::string("kind=") + kind + ","), 0) << kind;
    EXPECT_GT(m["pinwright_status_last_run_timestamp_seconds{}"].get<double>(), 1.7e9);
    // Nothing is left beside it: the temporary file was renamed over the old one.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir))
        files += e.path().filename().string().find("node.prom") != std::string::npos;
    EXPECT_EQ(files, 1);
}

TEST_F(CliMetrics, AFileThatCannotBeWrittenIsSaidAndTheRunDoesNotEndInZero) {
    auto a = Sim("a", {}, Link::Network);
    const std::string port = PortOf(*a);
    auto intoFolder = RunCli({"-p", port, "status", "--metrics", dir.string()});
    EXPECT_EQ(intoFolder.exit, 1);
    EXPECT_NE(intoFolder.err.find("it is a folder"), std::string::npos) << intoFolder.err;
    auto nowhere = RunCli({"-p", port, "status", "--metrics", Path("missing/node.prom")});
    EXPECT_EQ(nowhere.exit, 1);
    EXPECT_NE(nowhere.err.find("cannot write the metrics file"), std::string::npos) << nowhere.err;
    EXPECT_NE(nowhere.out.find("status: ok"), std::string::npos) << "the results are still printed";
    int left = 0;
    for (const auto& e : fs::directory_iterator(dir)) left += e.path().filename().string().rfind(".", 0) == 0;
    EXPECT_EQ(left, 0) << "no temporary file left behind";
}

// node_exporter runs as a user of its own: a cron job's umask of 077 must not make the file unreadable to it.
TEST_F(CliMetrics, TheFileKeepsItsModeAndOwnerAndAFirstFileIs0644WhateverTheUmask) {
    auto a = Sim("a", {}, Link::Network);
    const std::string kept = Path("kept.prom"), first = Path("first.prom");
    { std::ofstream(kept) << "stale\n"; }
    fs::permissions(kept, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(kept.c_str(), 65534, 65534), 0) << "nobody's, as the collector's might be";
    }
    const mode_t umask = ::umask(077);
    auto run = RunCli({"-p", PortOf(*a), "status", "--metrics", kept});
    auto again = RunCli({"-p", PortOf(*a), "status", "--metrics", first});
    ::umask(umask);
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(again.exit, 0) << again.err;
    EXPECT_EQ(fs::status(kept).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(fs::status(first).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                   fs::perms::group_read | fs::perms::others_read);
    struct stat st {};
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_TRUE(ReadMetrics(kept).is_object()) << ReadWhole(kept);
    EXPECT_TRUE(ReadMetrics(first).is_object()) << ReadWhole(first);
}

// A port's name is text from outside: in a label it is valid UTF-8 with backslash, double quote and line
// feed escaped. A stricter parser than the Python client's (node_exporter's) refuses a lone backslash, so
// the bytes themselves are checked.
TEST_F(CliMetrics, ALabelIsValidUtf8WithBackslashQuoteAndLineFeedEscaped) {
    auto a = Sim("a", {}, Link::Network);
    const std::string odd = Path("odd\\\"q\xffname\nx");
    const std::string metrics = Path("node.prom");
    auto run = RunCli({"-p", PortOf(*a), "-p", odd, "status", "--metrics", metrics});
    EXPECT_EQ(run.exit, 2) << run.err;
    const std::string text = ReadWhole(metrics);
    const std::string label = "port=\"" + Path("odd\\\\\\\"q\xEF\xBF\xBDname\\nx") + "\"";
    EXPECT_NE(text.find("pinwright_printer_up{" + label + "} 0\n"), std::string::npos) << text;
    const Json m = ReadMetrics(metrics);
    ASSERT_TRUE(m.is_object()) << text;
    EXPECT_EQ(m["pinwright_printer_up{port=" + Path("odd\\\"q\xEF\xBF\xBDname\nx") + "}"], 0.0) << m.dump();
    EXPECT_EQ(m["pinwright_printer_up{port=" + PortOf(*a) + "}"], 1.0) << m.dump();
}

class CliTimeout : public CliFixture {};

TEST_F(CliTimeout, APrinterThatNeverAnswersIsGivenUpAtTheTimeoutWithExitThreeSayingSo) {
    auto silent = Sim("s", {"--fault", "silent"});
    auto healthy = Sim("h");
    const auto start = Clock::now();
    // A get takes 2 s; on a silent printer its pre-check and reads wait 22 s.
    auto run = RunCli({"--json", "--timeout", "5", "-p", PortOf(*silent), "-p", PortOf(*healthy), "get"});
    const double took = SecondsSince(start);
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 12.0);
    EXPECT_EQ(run.exit, 3) << run.err;
    const Json j = Json::parse(run.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["exit"], 3);
    EXPECT_EQ(j[0]["error"].get<std::string>().rfind("stopped: the --timeout of 5 s passed; ", 0), 0u)
        << j[0];
    EXPECT_FALSE(j[1].contains("exit")) << "the printer that answered is read in time: " << j[1];
    EXPECT_EQ(run.err.find("interrupted"), std::string::npos) << run.err;
}

TEST_F(CliTimeout, ATimeoutDuringAWriteStillEndsUserSettingMode) {
    // The pre-check and the read are 14 commands and take a few milliseconds; the 15th enters user setting
    // mode. From then on the printer answers 20 s late, so the write waits in the mode for the reply to that
    // command until it gives up (6 s, the dialogs' second and the read's five): the timeout at 5 s falls
    // inside the mode with a second to spare on either side.
    auto sim = Sim("p", {"--fault", "delay=20000", "--fault", "from=15"});
    auto run = RunCli({"--timeout", "5", "-p", PortOf(*sim), "set", "code-page=PC858"});
    EXPECT_EQ(run.exit, 3) << run.out << run.err;
    EXPECT_NE(run.out.find("error: stopped: the --timeout of 5 s passed; nothing was written; user setting "
                           "mode was ended"),
              std::string::npos)
        << run.out;
    sim->Stop();
    ExpectSettingModeLeft(sim->Stderr());
}

TEST_F(CliTimeout, ZeroOrMoreThanADayIsAUsageError) {
    EXPECT_EQ(RunCli({"--timeout", "0", "-p", "COM1", "get"}).exit, 1);
    EXPECT_EQ(RunCli({"--timeout", "86401", "-p", "COM1", "get"}).exit, 1);
    EXPECT_EQ(RunCli({"--timeout", "soon", "-p", "COM1", "get"}).exit, 1);
    EXPECT_EQ(RunCli({"--check", "-p", "COM1", "status"}).exit, 1);
}

} // namespace
