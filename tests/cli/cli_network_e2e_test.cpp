// pinwright-cli with network printers: against pinwright-sim --listen over loopback, as a shop's fleet is
// configured by address.
#include "settings/status_file.h"
#include "tests/support/cli_fixture.h"
#include "tests/support/test_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// Network printers: the fixture's printers on loopback ports.
class CliNetwork : public CliFixture {
  protected:
    std::unique_ptr<SimProcess> Sim(const std::string& name, std::vector<std::string> extra = {}) {
        return CliFixture::Sim(name, std::move(extra), Link::Network);
    }
};

TEST_F(CliNetwork, GetAndSetWithReadBackByAddress) {
    auto sim = Sim("p", {"--switch", "2=01000100"});
    const std::string address = sim->NetworkName(); // "tcp://127.0.0.1:PORT"
    auto get = RunCli({"--json", "-p", address, "get"});
    ASSERT_EQ(get.exit, 0) << get.err;
    const Json g = Json::parse(get.out);
    EXPECT_EQ(g["port"], address);
    EXPECT_EQ(g["firmware"], "2.10 SIM");
    EXPECT_EQ(g["switches"]["2"], "01000100");
    EXPECT_EQ(get.err, "");

    const std::string trace = Path("trace");
    auto set = RunCli({"--json", "--trace", trace, "-p", address, "set", "code-page=PC858",
                       "auto-cutter=partial", "baud-rate=19200"});
    ASSERT_EQ(set.exit, 0) << set.err;
    const Json s = Json::parse(set.out);
    EXPECT_EQ(s["settings"]["code-page"], "PC858");
    EXPECT_EQ(s["settings"]["auto-cutter"], "partial");
    EXPECT_EQ(s["settings"]["baud-rate"], 19200)
        << "the printer's serial side changes; the network link stays";
    EXPECT_EQ(Switches("p").find("switch 2 = 01000100"), std::string::npos) << Switches("p");
    // The read-back runs over a connection of its own, made after the printer's restart.
    const std::string log = sim->Stderr();
    EXPECT_EQ(Count(log, "connected"), 3u) << "get, set, and the read-back of set\n" << log;
    const std::string t = ReadWhole(trace);
    EXPECT_NE(t.find(address + " -> 1B 40"), std::string::npos) << "trace lines name the address\n" << t;
    EXPECT_EQ(t.find("-- line"), std::string::npos) << "no serial line settings on a network link\n" << t;
    ExpectSettingModeLeft(log);
}

TEST_F(CliNetwork, ApplyOnSeveralPrintersAtOnceWithAnAddressThatRefuses) {
    const std::string file = DefaultsFile();
    auto a = Sim("a");
    auto b = Sim("b");
    std::string refusing;
    {
        TestListener closed;
        refusing = closed.Name();
    }
    const auto t0 = Clock::now();
    auto r =
        RunCli({"--json", "-p", a->NetworkName(), "-p", refusing, "-p", b->NetworkName(), "apply", file});
    EXPECT_EQ(r.exit, 2) << r.err;
    const Json j = Json::parse(r.out);
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[0]["port"], a->NetworkName());
    EXPECT_EQ(j[0]["settings"]["code-page"], "PC437");
    EXPECT_EQ(j[1]["port"], refusing);
    EXPECT_EQ(j[1]["exit"], 2);
    EXPECT_NE(j[1]["error"].get<std::string>().find(refusing + " refused the connection"), std::string::npos)
        << j[1];
    EXPECT_EQ(j[2]["settings"]["auto-cutter"], "partial");
    for (const char* name : {"a", "b"})
        EXPECT_NE(Switches(name).find("switch 2 = 00000000"), std::string::npos) << name << Switches(name);
    ExpectSettingModeLeft(a->Stderr());
    ExpectSettingModeLeft(b->Stderr());
    EXPECT_LT(SecondsSince(t0), 8.0) << "the printers work at the same time";
}

TEST_F(CliNetwork, ASilentListenerGivesExit3WithinItsBoundWhileTheOtherPrinterIsRead) {
    auto good = Sim("good");
    TestListener silent; // the kernel takes the connection; nothing ever answers
    const auto t0 = Clock::now();
    auto r = RunCli({"--json", "-p", good->NetworkName(), "-p", silent.Name(), "get"}, 40000);
    EXPECT_EQ(r.exit, 3) << r.err;
    // Three identity replies and the model ID reply, each waited for 5 s as on USB; then the retry that
    // brings nothing ends the pre-check.
    EXPECT_LT(SecondsSince(t0), 25.0);
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j[0]["switches"]["2"], "00010100");
    EXPECT_EQ(j[1]["exit"], 3);
    EXPECT_EQ(j[1]["error"], "Can't connect printer. Please restart printer.");
}

TEST_F(CliNetwork, AConnectionClosedDuringTheWriteGivesExit3AtOnce) {
    // The printer goes after the command that enters user setting mode (the sixteenth of the session,
    // after the pre-check, the read and the pre-check again).
    auto sim = Sim("p", {"--fault", "hangup-after=16"});
    const auto t0 = Clock::now();
    auto r = RunCli({"--json", "-p", sim->NetworkName(), "apply", DefaultsFile()});
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_LT(SecondsSince(t0), 7.0) << "a connection that is gone is not retried for 10 s a command";
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["error"], "The settings were not written: the printer did not take every command. Check the "
                          "connection and try again.");
    EXPECT_EQ(sim->Stderr().find("-- settings applied"), std::string::npos) << "nothing changed";
}

TEST_F(CliNetwork, APrinterGoneAfterTheWriteIsTriedAgainForTenSecondsAndTheSettingsAreSaidWritten) {
    // The printer closes its connection after the write's 22 commands and listens no more. The read-back
    // connects again at once: the connection is refused (exit 2), or taken just before the printer goes
    // and then never answered (exit 3); either way the settings were written.
    auto sim = Sim("p", {"--fault", "hangup-after=22"});
    const auto t0 = Clock::now();
    auto r = RunCli({"--json", "-p", sim->NetworkName(), "set", "auto-cutter=partial"});
    EXPECT_TRUE(r.exit == 2 || r.exit == 3) << r.exit << r.err;
    const double took = SecondsSince(t0);
    EXPECT_GE(took, 10.0) << "the read-back's connection is tried again for 10 s";
    EXPECT_LT(took, 40.0) << "and no longer";
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["written"], "yes");
    const std::string error = j["error"];
    EXPECT_EQ(error.rfind(r.exit == 2
                              ? "the settings were written; reading them back failed: Can't open port"
                              : "the settings were written, but the printer did not come back to be read",
                          0),
              0u)
        << error;
    EXPECT_NE(Switches("p").find("switch 2 = 00010000"), std::string::npos) << Switches("p");
}

TEST_F(CliNetwork, APrinterThatFallsSilentDuringTheWriteIsStillTakenOutOfSettingMode) {
    // Silent from the sixteenth command on, its connection still up: user setting mode is entered without
    // its notice, and the command that ends it still goes out.
    auto sim = Sim("p", {"--fault", "silent", "--fault", "from=15"});
    auto r = RunCli({"--json", "-p", sim->NetworkName(), "apply", DefaultsFile()});
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_EQ(Json::parse(r.out)["exit"], 3);
    ExpectSettingModeLeft(sim->Stderr());
    EXPECT_NE(Switches("p").find("switch 2 = 00010100"), std::string::npos) << "nothing changed";
}

TEST_F(CliNetwork, AnAddressThatNeitherAcceptsNorRefusesIsGivenUpAfterTheConnectLimit) {
    // A listener whose accept queue is full: the kernel drops further connection requests, so a connect to
    // it neither succeeds nor is refused, as with a printer behind a firewall that drops packets.
    TestListener dropping(0);
    ASSERT_TRUE(dropping.FillQueue());
    const std::string address = dropping.Name();
    const auto t0 = Clock::now();
    auto r = RunCli({"-p", address, "check"}, 30000);
    const double took = SecondsSince(t0);
    EXPECT_EQ(r.exit, 2) << r.err;
    EXPECT_NE(r.err.find("No answer from " + address + " within 5 s"), std::string::npos) << r.err;
    EXPECT_GE(took, 4.8);
    EXPECT_LT(took, 7.0) << "the connect limit is 5 s";
}

TEST_F(CliNetwork, HostNamesWorkAndAMalformedAddressIsAUsageError) {
    auto sim = Sim("p");
    const std::string address = sim->NetworkName();
    const std::string port = address.substr(address.rfind(':') + 1);
    auto check = RunCli({"-p", "tcp://localhost:" + port, "check"});
    EXPECT_EQ(check.exit, 0) << check.err;
    EXPECT_EQ(check.out, "port: tcp://localhost:" + port + "\nresult: Printer is connected.\n");

    auto bad = RunCli({"-p", "tcp://[::1", "check"}, 10000);
    EXPECT_EQ(bad.exit, 1);
    EXPECT_NE(bad.err.find("bad network address 'tcp://[::1': missing ']'"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "");
}

} // namespace
