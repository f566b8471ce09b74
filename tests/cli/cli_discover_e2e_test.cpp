// pinwright-cli discover on loopback networks (127.0.0.0/8 only, at a free high port): pinwright-sim
// printers among a web server, a listener that never answers and addresses where nothing listens; the
// table, the JSON, --all, the Ansible inventory, the bytes a printer is sent, the time a sweep takes and
// how it ends early.
#include "tests/support/cli_fixture.h"
#include "tests/support/loopback_service.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

using namespace pw;
using namespace pw::test;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

class CliDiscover : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        port = FreeTcpPort();
    }

    // Printers at 127.0.0.HOST for each host, in one simulator, with `extra` options for all of them.
    std::unique_ptr<SimProcess> Printers(const std::string& network, const std::vector<int>& hosts,
                                         std::vector<std::string> extra = {}, bool trace = false) {
        std::vector<std::string> args = {"--state", Path("sim" + std::to_string(++sims) + ".state")};
        for (int h : hosts) args.insert(args.end(), {"--listen", Address(network, h) + ":" + P()});
        if (trace) args.push_back("--trace");
        args.insert(args.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<SimProcess>(args, trace);
        EXPECT_EQ(sim->Names().size(), hosts.size());
        return sim;
    }

    static std::string Address(const std::string& network, int host) {
        return network + "." + std::to_string(host);
    }
    std::string P() const { return std::to_string(port); }
    std::string Port(const std::string& address) const { return "tcp://" + address + ":" + P(); }

    int port = 0;
    int sims = 0;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The table's rows as their columns, split at runs of two spaces or more.
std::vector<std::vector<std::string>> Rows(const std::string& table) {
    std::vector<std::vector<std::string>> rows;
    const std::regex gap("  +");
    for (const std::string& line : Lines(table))
        rows.emplace_back(std::sregex_token_iterator(line.begin(), line.end(), gap, -1),
                          std::sregex_token_iterator());
    return rows;
}

// Printers at .33, .35 (its model a terminal's escape sequence) and .44 (out of paper: offline, so it is
// asked for its status only), a web server at .38 and a listener that says nothing at .41 of
// 127.0.0.32/28; nothing listens at the other nine addresses.
class CliDiscoverNetwork : public CliDiscover {
  protected:
    void SetUp() override {
        CliDiscover::SetUp();
        printers = Printers("127.0.0", {33});
        hostile = Printers("127.0.0", {35}, {"--model", "LTX-\\x1B]0;x\\x07"});
        outOfPaper = Printers("127.0.0", {44}, {"--fault", "paper-out"}, true);
        web = std::make_unique<LoopbackService>("127.0.0.38", port, LoopbackService::Http);
        silent = std::make_unique<LoopbackService>("127.0.0.41", port, LoopbackService::Silent);
    }
    std::unique_ptr<SimProcess> printers, hostile, outOfPaper;
    std::unique_ptr<LoopbackService> web, silent;
};

TEST_F(CliDiscoverNetwork, TheTableListsThePrintersInAddressOrderAndLeavesOutWhatIsNoPrinter) {
    const auto start = Clock::now();
    auto run = RunCli({"discover", "--port", P(), "127.0.0.32/28"});
    const double seconds = SecondsSince(start);
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(Rows(run.out), (std::vector<std::vector<std::string>>{
                                 {"ADDRESS", "MAKER", "MODEL", "FIRMWARE", "STATUS"},
                                 {"127.0.0.33", "MERIDOX", "LTX-580", "2.10 SIM", "ok"},
                                 {"127.0.0.35", "MERIDOX", "LTX-\\x1b]0;x\\x07", "2.10 SIM", "ok"},
                                 {"127.0.0.44", "-", "-", "-", "needs attention: offline, paper out"},
                             }))
        << run.out;
    outOfPaper->Stop();
    EXPECT_EQ(outOfPaper->Stderr().find("<- 1D 49"), std::string::npos)
        << "an offline printer is not asked what it would answer once back online\n"
        << outOfPaper->Stderr();
    EXPECT_NE(run.err.find("14 addresses tried at port " + P() +
                           ": 3 printers, and 2 that took the connection but are no printer (--all lists "
                           "them)."),
              std::string::npos)
        << run.err;
    // The silent listener costs one short wait for DLE EOT 1, not the port's 5 s limits.
    EXPECT_LT(seconds, 4.0);
    // What is no printer was sent DLE EOT 1 and nothing else.
    EXPECT_EQ(web->Received(), "\x10\x04\x01");
    EXPECT_EQ(silent->Received(), "\x10\x04\x01");
    EXPECT_EQ(web->Connections(), 1);
}

TEST_F(CliDiscoverNetwork, AllListsWhatIsNoPrinterAndJsonGivesThePortMinusPTakes) {
    auto table = RunCli({"discover", "--all", "--port", P(), "127.0.0.32/28"});
    ASSERT_EQ(table.exit, 0) << table.err;
    const auto rows = Rows(table.out);
    ASSERT_EQ(rows.size(), 6u) << table.out;
    EXPECT_EQ(rows[3], (std::vector<std::string>{"127.0.0.38", "-", "-", "-", "not a printer"}));
    EXPECT_EQ(rows[4], (std::vector<std::string>{"127.0.0.41", "-", "-", "-", "not a printer"}));

    // Validated against the schema by the run itself.
    auto run = RunCli({"--json", "discover", "--all", "--port", P(), "127.0.0.32/28"});
    ASSERT_EQ(run.exit, 0) << run.err;
    const Json j = Json::parse(run.out);
    ASSERT_EQ(j.size(), 5u) << run.out;
    std::vector<std::string> addresses;
    for (const Json& e : j) addresses.push_back(e["address"]);
    EXPECT_EQ(addresses, (std::vector<std::string>{"127.0.0.33", "127.0.0.35", "127.0.0.38", "127.0.0.41",
                                                   "127.0.0.44"}));
    EXPECT_EQ(j[0], Json::parse(R"({"port": ")" + Port("127.0.0.33") + R"(", "address": "127.0.0.33",
        "printer": true, "maker": "MERIDOX", "model": "LTX-580", "firmware": "2.10 SIM",
        "status": {"online": true, "cover-open": false, "paper": "ok", "feed-button": false,
                   "drawer-open": false, "errors": []}})"));
    EXPECT_EQ(j[1]["model"], "LTX-\x1b]0;x\x07") << "JSON escapes the bytes; it keeps them";
    EXPECT_TRUE(j[4]["model"].is_null()) << j[4];
    EXPECT_EQ(j[4]["status"]["paper"], "out");
    EXPECT_EQ(j[4]["status"]["online"], false);
    for (int i : {2, 3}) {
        EXPECT_EQ(j[i]["printer"], false) << j[i];
        EXPECT_TRUE(j[i]["status"].is_null()) << j[i];
        EXPECT_EQ(j[i]["error"].get<std::string>().rfind("not a printer: ", 0), 0u) << j[i];
    }
    EXPECT_NE(j[2]["error"].get<std::string>().find("48 54 54 50"), std::string::npos) << "HTTP";
    // The port a printer is listed with is one -p takes.
    auto status = RunCli({"--json", "-p", j[1]["port"], "status"});
    EXPECT_EQ(status.exit, 0) << status.err;
}

TEST_F(CliDiscoverNetwork, TheInventoryIsOneAnsibleReadsWithThePrintersTextsUnsafe) {
    const std::string program = "/usr/bin/ansible-inventory";
    if (::access(program.c_str(), X_OK) != 0) GTEST_SKIP() << program << " is not installed";
    auto run = RunCli({"discover", "--inventory", "--port", P(), "127.0.0.32/28"});
    ASSERT_EQ(run.exit, 0) << run.err;
    const std::string file = Path("printers.yml");
    std::ofstream(file) << run.out;
    // Bounded: ended after 60 s.
    const std::string command = "timeout -k 5 60 " + program + " -i '" + file + "' --list 2>" +
                                Path("ansible.err") + " >" + Path("ansible.json");
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadWhole(Path("ansible.err"));
    const Json list = Json::parse(ReadWhole(Path("ansible.json")));
    EXPECT_EQ(list["receipt_printers"]["hosts"], (Json{"127.0.0.33", "127.0.0.35", "127.0.0.44"}))
        << list.dump(2);
    // ansible-inventory lists a value it holds unsafe (never templated) as {"__ansible_unsafe": TEXT}.
    const auto unsafe = [](const std::string& text) { return Json{{"__ansible_unsafe", text}}; };
    const Json& vars = list["_meta"]["hostvars"];
    EXPECT_EQ(vars["127.0.0.33"], (Json{{"printer_port", Port("127.0.0.33")},
                                        {"printer_maker", unsafe("MERIDOX")},
                                        {"printer_model", unsafe("LTX-580")}}));
    EXPECT_EQ(vars["127.0.0.35"]["printer_model"], unsafe("LTX-\x1b]0;x\x07")) << "read back as sent";
    EXPECT_FALSE(vars.contains("127.0.0.38"));
    EXPECT_FALSE(vars.contains("127.0.0.41"));
}

TEST_F(CliDiscover, APrinterIsSentOnlyStatusAndIdentityQueries) {
    auto sim = Printers("127.0.0", {50}, {}, true);
    auto run = RunCli({"discover", "--port", P(), "127.0.0.50"});
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.out.find("127.0.0.50  MERIDOX"), std::string::npos) << run.out;
    sim->Stop();
    const std::string log = sim->Stderr();
    std::vector<std::string> received;
    for (const std::string& line : Lines(log)) {
        const std::size_t at = line.find("<- ");
        if (at != std::string::npos) received.push_back(line.substr(at + 3));
    }
    EXPECT_EQ(received, (std::vector<std::string>{"10 04 01", "1D 49 41", "1D 49 42", "1D 49 43", "10 04 01",
                                                  "10 04 02", "10 04 03", "10 04 04"}))
        << log;
}

TEST_F(CliDiscover, ASlash24WithEightPrintersIsSweptWithinThreeSeconds) {
    const std::vector<int> hosts = {1, 20, 64, 100, 128, 200, 253, 254};
    auto sim = Printers("127.0.7", hosts);
    const auto start = Clock::now();
    auto run = RunCli({"--json", "discover", "--port", P(), "127.0.7.0/24"});
    const double seconds = SecondsSince(start);
    ASSERT_EQ(run.exit, 0) << run.err;
    const Json j = Json::parse(run.out);
    ASSERT_EQ(j.size(), hosts.size()) << run.out;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        EXPECT_EQ(j[i]["address"], Address("127.0.7", hosts[i]));
        EXPECT_EQ(j[i]["status"]["online"], true) << j[i];
    }
    EXPECT_NE(run.err.find("254 addresses tried"), std::string::npos) << run.err;
    std::printf("discover of a /24 with 8 printers: %.3f s\n", seconds);
    EXPECT_LT(seconds, 3.0);
}

TEST_F(CliDiscover, AHostNameIsSweptAtItsAddressesAndOneThatIsNotFoundIsExitTwo) {
    auto sim = Printers("127.0.0", {1});
    auto found = RunCli({"--json", "discover", "--port", P(), "localhost", "127.0.0.1"});
    ASSERT_EQ(found.exit, 0) << found.err;
    const Json j = Json::parse(found.out);
    ASSERT_EQ(j.size(), 1u) << "127.0.0.1 given twice is swept once: " << found.out;
    EXPECT_EQ(j[0]["port"], Port("127.0.0.1"));

    auto missing = RunCli({"discover", "--port", P(), "no-such-printer.invalid", "127.0.0.1"});
    EXPECT_EQ(missing.exit, 2) << missing.err;
    EXPECT_NE(missing.err.find("'no-such-printer.invalid'"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("It was not swept."), std::string::npos) << missing.err;
    EXPECT_NE(missing.out.find("127.0.0.1  MERIDOX"), std::string::npos) << "the rest is swept";
}

TEST_F(CliDiscover, MalformedTargetsAndTooManyAddressesAreUsageErrorsBeforeAnythingIsSent) {
    LoopbackService watch("127.0.0.60", port, LoopbackService::Silent);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"127.0.0.060"}, "bad TARGET '127.0.0.060': "},
        {{"127.0.0.060"}, "leading zero"},
        {{"127.0.0.60", "0x7f.0.0.1"}, "has a hexadecimal part"},
        {{"127.0.0.60-59"}, "the range ends at 59, before it starts at 60"},
        {{"127.0.0.0/33"}, "the prefix after '/' is a number from 0 to 32"},
        {{"127.0.0.60", "127.0.0.0/19"},
         "the TARGETs make 8190 addresses, more than the 4096 of one run: give --max-addresses 8190"},
        {{"tcp://127.0.0.60"}, "without tcp://"},
    };
    for (const auto& [targets, message] : cases) {
        std::vector<std::string> args = {"discover", "--port", P()};
        args.insert(args.end(), targets.begin(), targets.end());
        auto run = RunCli(args);
        EXPECT_EQ(run.exit, 1) << targets.back();
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(watch.Connections(), 0);
}

TEST_F(CliDiscover, MaxAddressesAllowsALargerSweep) {
    auto sim = Printers("127.0.17", {77});
    // 4094 and 2046 addresses.
    const std::vector<std::string> targets = {"127.0.0.0/20", "127.0.16.0/21"};
    std::vector<std::string> refused = {"discover", "--port", P()},
                             allowed = {"--json", "discover", "--port", P(), "--max-addresses", "6140"};
    refused.insert(refused.end(), targets.begin(), targets.end());
    allowed.insert(allowed.end(), targets.begin(), targets.end());
    auto run = RunCli(refused);
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.err.find("make 6140 addresses, more than the 4096 of one run: give --max-addresses 6140"),
              std::string::npos)
        << run.err;
    auto wide = RunCli(allowed, 120000);
    ASSERT_EQ(wide.exit, 0) << wide.err;
    EXPECT_NE(wide.err.find("6140 addresses tried"), std::string::npos) << wide.err;
    const Json j = Json::parse(wide.out);
    ASSERT_EQ(j.size(), 1u) << wide.out;
    EXPECT_EQ(j[0]["address"], "127.0.17.77");
}

// An address the machine could not try (an IPv6 link-local address without its interface cannot be
// connected to) is said and makes the exit status 2: it is no address where nothing listens.
TEST_F(CliDiscover, AnAddressThatCouldNotBeTriedIsAnErrorNeverAnEmptyAddress) {
    auto sim = Printers("127.0.0", {90});
    auto run = RunCli({"--json", "discover", "--port", P(), "127.0.0.90-91", "fe80::2"});
    EXPECT_EQ(run.exit, 2) << run.err;
    const Json j = Json::parse(run.out);
    ASSERT_EQ(j.size(), 1u) << run.out;
    EXPECT_EQ(j[0]["address"], "127.0.0.90");
    EXPECT_NE(run.err.find("pinwright-cli: fe80::2 could not be tried: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("2 of 3 addresses tried at port " + P() +
                           ": 1 printer; 1 address could not be tried, so what is there is not known."),
              std::string::npos)
        << run.err;
}

// Twenty listeners that never answer, each holding its connection for 0.8 s, then a printer: more
// descriptors at once than an open files limit of 24 allows.
class CliDiscoverLimits : public CliDiscover {
  protected:
    void SetUp() override {
        CliDiscover::SetUp();
        printer = Printers("127.0.3", {121});
        for (int h = 101; h <= 120; ++h)
            silent.push_back(
                std::make_unique<LoopbackService>(Address("127.0.3", h), port, LoopbackService::Silent));
    }
    int Connections() const {
        int n = 0;
        for (const auto& s : silent) n += s->Connections();
        return n;
    }
    std::unique_ptr<SimProcess> printer;
    std::vector<std::unique_ptr<LoopbackService>> silent;
};

TEST_F(CliDiscoverLimits, ALowSoftOpenFilesLimitIsRaisedAndEveryAddressIsExamined) {
    rlimit own{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
    CliStart start;
    start.openFilesSoft = 24;
    start.openFilesHard = std::min<rlim_t>(own.rlim_max, 4096);
    ASSERT_GE(start.openFilesHard, 128u) << "this test needs a hard limit that allows the sweep";
    CliProcess cli({"--json", "discover", "--all", "--port", P(), "127.0.3.101-121"}, {}, start);
    EXPECT_EQ(cli.Wait(30000), 0) << cli.Stderr();
    const Json j = Json::parse(cli.Stdout());
    ASSERT_EQ(j.size(), 21u) << "every address examined: " << j.dump() << cli.Stderr();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(j[i]["printer"], false) << j[i];
    EXPECT_EQ(j[20]["address"], "127.0.3.121");
    EXPECT_EQ(j[20]["printer"], true);
    EXPECT_NE(cli.Stderr().find("21 addresses tried"), std::string::npos) << cli.Stderr();
}

TEST_F(CliDiscoverLimits, AHardLimitTooLowForTheConnectionsIsRefusedBeforeAnythingIsSentAndFewerFit) {
    CliStart start;
    start.openFilesSoft = start.openFilesHard = 24;
    CliProcess refused({"--json", "discover", "--all", "--port", P(), "127.0.3.101-121"}, {}, start);
    EXPECT_EQ(refused.Wait(30000), 2) << refused.Stderr();
    EXPECT_EQ(refused.Stdout(), "");
    EXPECT_NE(refused.Stderr().find("discover with 21 connections at once: they need about "),
              std::string::npos)
        << refused.Stderr();
    EXPECT_NE(refused.Stderr().find("may open 24 at most (ulimit -Hn); nothing was sent. Give fewer "
                                    "--connections."),
              std::string::npos)
        << refused.Stderr();
    EXPECT_EQ(Connections(), 0) << "nothing was sent";

    CliProcess fewer({"--json", "discover", "--all", "--connections", "2", "--port", P(), "127.0.3.119-121"},
                     {}, start);
    EXPECT_EQ(fewer.Wait(30000), 0) << fewer.Stderr();
    const Json j = Json::parse(fewer.Stdout());
    ASSERT_EQ(j.size(), 3u) << j.dump() << fewer.Stderr();
    EXPECT_EQ(j[2]["printer"], true);
}

// Ten listeners that never answer, swept one at a time: 8 s of waits unless the sweep is ended.
class CliDiscoverStopped : public CliDiscover {
  protected:
    void SetUp() override {
        CliDiscover::SetUp();
        printer = Printers("127.0.0", {70});
        for (int h = 71; h <= 80; ++h)
            silent.push_back(
                std::make_unique<LoopbackService>(Address("127.0.0", h), port, LoopbackService::Silent));
    }
    // Waits, 10 s at most, for the sweep to reach the first silent listener.
    bool ReachedTheSilentOnes() const {
        const auto start = Clock::now();
        while (SecondsSince(start) < 10) {
            if (silent[0]->Connections() > 0) return true;
            ::usleep(10000);
        }
        return false;
    }
    std::unique_ptr<SimProcess> printer;
    std::vector<std::unique_ptr<LoopbackService>> silent;
};

TEST_F(CliDiscoverStopped, CtrlCEndsTheSweepAtOnceListingThePrintersFoundUntilThen) {
    CliProcess cli({"discover", "--connections", "1", "--port", P(), "127.0.0.70-80"});
    ASSERT_TRUE(ReachedTheSilentOnes()) << "the sweep never reached 127.0.0.71";
    const auto signalled = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(30000), 130) << cli.Stderr();
    EXPECT_LT(SecondsSince(signalled), 2.0) << "not after the other waits";
    EXPECT_NE(cli.Stdout().find("127.0.0.70  MERIDOX"), std::string::npos) << cli.Stdout();
    EXPECT_NE(cli.Stderr().find("discover stopped after "), std::string::npos) << cli.Stderr();
    EXPECT_EQ(silent.back()->Connections(), 0) << "the addresses not yet taken are never tried";
}

// A stop while an address is being probed says nothing of that address: --all and --json leave it out,
// as they leave out the addresses never reached.
TEST_F(CliDiscoverStopped, AnAddressWhoseProbeWasCutShortIsNotListedAsNoPrinter) {
    CliProcess cli({"--json", "discover", "--all", "--connections", "1", "--port", P(), "127.0.0.70-80"});
    // Bounded: 10 s for the probe of 127.0.0.71 to send DLE EOT 1, which then waits 0.8 s for a reply.
    const auto start = Clock::now();
    while (silent[0]->Received().find("\x10\x04\x01") == std::string::npos && SecondsSince(start) < 10)
        ::usleep(5000);
    ASSERT_NE(silent[0]->Received().find("\x10\x04\x01"), std::string::npos) << "never probed 127.0.0.71";
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(30000), 130) << cli.Stderr();
    const Json j = Json::parse(cli.Stdout());
    ASSERT_EQ(j.size(), 1u) << "only the printer was examined: " << j;
    EXPECT_EQ(j[0]["address"], "127.0.0.70");
    EXPECT_EQ(cli.Stdout().find("127.0.0.71"), std::string::npos) << cli.Stdout();
    EXPECT_NE(cli.Stderr().find("discover stopped after 1 of 11 addresses"), std::string::npos)
        << cli.Stderr();
}

TEST_F(CliDiscoverStopped, TimeoutEndsTheSweepWithExitThree) {
    const auto start = Clock::now();
    auto run = RunCli({"--timeout", "1", "discover", "--connections", "1", "--port", P(), "127.0.0.70-80"});
    EXPECT_EQ(run.exit, 3) << run.err;
    EXPECT_LT(SecondsSince(start), 5.0) << "1 s, not the 8 s of the waits";
    EXPECT_NE(run.out.find("127.0.0.70  MERIDOX"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("discover ran out of --timeout after "), std::string::npos) << run.err;
}

} // namespace
