// pinwright-cli set and apply as a configuration tool runs them again and again: a printer that already
// holds the settings is read and left alone, --check reads and compares only, --force writes anyway.
// Against pinwright-sim, on a pseudo-terminal and as a network printer.
#include "tests/support/cli_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const std::string kEntered = "-- user setting mode";
const std::string kApplied = "-- settings applied; printer reset";
const std::string kChangeCommand = "1D 28 45 0A 00 03"; // a switch change, only ever sent to the printer

// The seven settings of the simulator's factory switches: 115200 8N1, DTR/DSR, full cut, PC850.
Json Factory() {
    return Json::parse(R"({"baud-rate": 115200, "data-bits": 8, "parity": "none", "flow-control": "dtr-dsr",
        "auto-cutter": "full", "auto-line-feed": false, "code-page": "PC850"})");
}

// The fixture's printers, on the line of the test's parameter.
class CliIdempotence : public CliFixture, public ::testing::WithParamInterface<Link> {
  protected:
    std::unique_ptr<SimProcess> Sim(const std::string& name, std::vector<std::string> extra = {}) {
        return CliFixture::Sim(name, std::move(extra), GetParam());
    }
    static std::string Port(const SimProcess& sim) { return PortOf(sim); }
    // A serial port's results say the line they talked at (the default here).
    static std::string LineLine() { return GetParam() == Link::Serial ? "line: 9600 8N1\n" : ""; }
};

TEST_P(CliIdempotence, TheSameSettingTwiceWritesOnlyTheFirstTime) {
    auto sim = Sim("p");
    const std::string port = Port(*sim);
    auto first = RunCli({"--json", "-p", port, "set", "code-page=PC858", "auto-line-feed=on"});
    ASSERT_EQ(first.exit, 0) << first.err;
    const Json a = Json::parse(first.out);
    EXPECT_EQ(a["changed"], true);
    EXPECT_EQ(a["changes"], Json({"auto-line-feed", "code-page"}));
    EXPECT_EQ(a["before"], Factory());
    Json wanted = Factory();
    wanted["code-page"] = "PC858";
    wanted["auto-line-feed"] = true;
    EXPECT_EQ(a["after"], wanted);
    EXPECT_EQ(a["settings"], wanted) << "as read back";
    EXPECT_EQ(Count(sim->Stderr(), kEntered), 1u);

    const std::size_t logBefore = sim->Stderr().size();
    const std::string stateBefore = ReadWhole(Path("p.state"));
    auto second = RunCli({"--json", "-p", port, "set", "code-page=pc858", "auto-line-feed=on"});
    ASSERT_EQ(second.exit, 0) << second.err;
    const Json b = Json::parse(second.out);
    EXPECT_EQ(b["changed"], false);
    EXPECT_EQ(b["changes"], Json::array());
    EXPECT_EQ(b["before"], wanted);
    EXPECT_EQ(b["after"], wanted);
    EXPECT_EQ(b["settings"], wanted);
    EXPECT_EQ(b["switches"], a["switches"]);
    EXPECT_EQ(b["model"], "LTX-580");
    EXPECT_EQ(second.err, "");
    const std::string log = sim->Stderr().substr(logBefore);
    EXPECT_NE(log.find("<- 1D 28 45 02 00 04 02"), std::string::npos) << "the switches were read\n" << log;
    EXPECT_EQ(log.find(kEntered), std::string::npos) << "no user setting mode\n" << log;
    EXPECT_EQ(log.find(kChangeCommand), std::string::npos) << log;
    EXPECT_EQ(ReadWhole(Path("p.state")), stateBefore);

    // The text says so too, and the settings it shows are the printer's.
    auto text = RunCli({"-p", port, "set", "code-page=PC858"});
    ASSERT_EQ(text.exit, 0) << text.err;
    EXPECT_EQ(text.out.substr(0, text.out.find("firmware:")),
              "port: " + port + "\n" + LineLine() + "result: unchanged\n");
    EXPECT_NE(text.out.find("\ncode-page: PC858\nswitch 1: 00010000\n"), std::string::npos) << text.out;
    EXPECT_EQ(Count(sim->Stderr(), kEntered), 1u) << sim->Stderr();
}

TEST_P(CliIdempotence, CheckSaysWhatWouldChangeAndWritesNothing) {
    auto sim = Sim("p");
    const std::string port = Port(*sim);
    auto json = RunCli(
        {"--json", "--check", "-p", port, "set", "baud-rate=19200", "parity=even", "auto-cutter=full"});
    ASSERT_EQ(json.exit, 0) << json.err;
    const Json j = Json::parse(json.out);
    EXPECT_EQ(j["changed"], true);
    EXPECT_EQ(j["changes"], Json({"baud-rate", "parity"})) << "the cutter is already full";
    EXPECT_EQ(j["before"], Factory());
    Json wanted = Factory();
    wanted["baud-rate"] = 19200;
    wanted["parity"] = "even";
    EXPECT_EQ(j["after"], wanted);
    EXPECT_EQ(j["settings"], Factory()) << "what the printer holds";
    EXPECT_EQ(j["switches"]["9"], "10000000");

    auto text = RunCli({"--check", "-p", port, "set", "baud-rate=19200", "parity=even"});
    ASSERT_EQ(text.exit, 0) << text.err;
    EXPECT_EQ(text.out.substr(0, text.out.find("firmware:")),
              "port: " + port + "\n" + LineLine() +
                  "result: would change baud-rate 115200 -> 19200, parity none -> even\n");
    auto held = RunCli({"--check", "-p", port, "set", "baud-rate=115200"});
    EXPECT_NE(held.out.find("\nresult: unchanged\n"), std::string::npos) << held.out;
    // With --force a real run would write: --check still does not.
    auto forced = RunCli({"--json", "--check", "-p", port, "set", "--force", "baud-rate=115200"});
    ASSERT_EQ(forced.exit, 0) << forced.err;
    EXPECT_EQ(Json::parse(forced.out)["changed"], true);
    EXPECT_EQ(Json::parse(forced.out)["changes"], Json::array());

    const std::string log = sim->Stderr();
    EXPECT_EQ(log.find(kEntered), std::string::npos) << log;
    EXPECT_EQ(log.find(kChangeCommand), std::string::npos) << log;
    EXPECT_EQ(log.find("<- 1D 28 45 03 00 01"), std::string::npos) << "user setting mode not even asked for";
    EXPECT_FALSE(fs::exists(Path("p.state"))) << "the simulator saves its switches only when they change";
}

TEST_P(CliIdempotence, ForceWritesSettingsThePrinterAlreadyHolds) {
    auto sim = Sim("p");
    const std::string port = Port(*sim);
    auto r = RunCli({"--json", "-p", port, "set", "--force", "code-page=PC850"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["changed"], true);
    EXPECT_EQ(j["changes"], Json::array());
    EXPECT_EQ(j["before"], Factory());
    EXPECT_EQ(j["after"], Factory());
    EXPECT_EQ(j["settings"], Factory()) << "read back";
    const std::string log = sim->Stderr();
    EXPECT_EQ(Count(log, kEntered), 1u) << log;
    EXPECT_EQ(Count(log, kApplied), 1u) << log;
    EXPECT_EQ(Count(log, kChangeCommand), 3u) << "switches 1, 2 and 9\n" << log;

    auto text = RunCli({"-p", port, "apply", "--force", DefaultsFile()});
    ASSERT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("\nresult: changed auto-cutter full -> partial, code-page PC850 -> PC437\n"),
              std::string::npos)
        << text.out;
    auto again = RunCli({"-p", port, "apply", "--force", DefaultsFile()});
    ASSERT_EQ(again.exit, 0) << again.err;
    EXPECT_NE(again.out.find("\nresult: written again (--force): every setting was already held\n"),
              std::string::npos)
        << again.out;
    EXPECT_EQ(Count(sim->Stderr(), kEntered), 3u);
}

TEST_P(CliIdempotence, ApplyOfAFileThePrinterAlreadyHoldsReadsAndWritesNothing) {
    auto sim = Sim("p", {"--switch", "2=11010000", "--switch", "9=01111110", "--switch", "1=11111111"});
    const std::string port = Port(*sim);
    // A file saved from this printer: 57600 7E1, Xon/Xoff, partial cut, PC857, line feed on.
    auto get = RunCli({"--json", "-p", port, "get", "-o", Path("till.sts")});
    ASSERT_EQ(get.exit, 0) << get.err;
    const Json held = Json::parse(get.out)["settings"];
    EXPECT_EQ(held, Json::parse(R"({"baud-rate": 57600, "data-bits": 7, "parity": "even",
        "flow-control": "xon-xoff", "auto-cutter": "partial", "auto-line-feed": true, "code-page": "PC857"})"));

    auto same = RunCli({"--json", "-p", port, "apply", Path("till.sts")});
    ASSERT_EQ(same.exit, 0) << same.err;
    const Json s = Json::parse(same.out);
    EXPECT_EQ(s["changed"], false);
    EXPECT_EQ(s["before"], held);
    EXPECT_EQ(s["after"], held);
    EXPECT_EQ(s["switches"]["1"], "11111111") << "switch 1 as the printer has it";
    EXPECT_EQ(sim->Stderr().find(kEntered), std::string::npos) << sim->Stderr();

    // Another file is compared as well: the settings that differ are named, and written.
    auto other = RunCli({"--json", "-p", port, "apply", DefaultsFile()});
    ASSERT_EQ(other.exit, 0) << other.err;
    const Json o = Json::parse(other.out);
    EXPECT_EQ(o["changed"], true);
    EXPECT_EQ(o["changes"],
              Json({"baud-rate", "data-bits", "parity", "flow-control", "auto-line-feed", "code-page"}));
    EXPECT_EQ(o["after"], Json::parse(R"({"baud-rate": 115200, "data-bits": 8, "parity": "none",
        "flow-control": "dtr-dsr", "auto-cutter": "partial", "auto-line-feed": false, "code-page": "PC437"})"));
    EXPECT_EQ(o["settings"], o["after"]);
    EXPECT_EQ(Count(sim->Stderr(), kEntered), 1u);
}

TEST_P(CliIdempotence, SeveralPortsWhereSomeChangeAndSomeDoNot) {
    auto held = Sim("held", {"--switch", "2=01001100"}); // PC858 already
    auto other = Sim("other");                           // PC850
    auto stubborn = Sim("stubborn", {"--fault", "ignore-writes"});
    const std::string missing = Path("no-such-device");
    const std::vector<std::string> ports = {Port(*held), Port(*other), missing, Port(*stubborn)};

    auto check = RunCli({"--json", "--check", "-p", ports[0], "-p", ports[1], "-p", ports[2], "-p", ports[3],
                         "set", "code-page=PC858"});
    EXPECT_EQ(check.exit, 2) << "a port that cannot be read fails --check too\n" << check.err;
    const Json c = Json::parse(check.out);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0]["changed"], false);
    EXPECT_EQ(c[1]["changed"], true);
    EXPECT_EQ(c[2]["exit"], 2);
    EXPECT_FALSE(c[2].contains("changed")) << "nothing was compared";
    EXPECT_EQ(c[3]["changed"], true);

    auto set = RunCli({"--json", "-p", ports[0], "-p", ports[1], "-p", ports[3], "set", "code-page=PC858"});
    EXPECT_EQ(set.exit, 4) << set.err;
    const Json j = Json::parse(set.out);
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[0]["port"], ports[0]);
    EXPECT_EQ(j[0]["changed"], false);
    EXPECT_FALSE(j[0].contains("error"));
    EXPECT_EQ(j[1]["changed"], true);
    EXPECT_EQ(j[1]["settings"]["code-page"], "PC858");
    EXPECT_EQ(j[2]["exit"], 4);
    EXPECT_EQ(j[2]["changed"], true) << "written, though not taken";
    EXPECT_EQ(j[2]["not-taken"], Json({"code-page"}));
    EXPECT_EQ(j[2]["after"]["code-page"], "PC858");
    EXPECT_EQ(j[2]["settings"]["code-page"], "PC850");
    EXPECT_EQ(held->Stderr().find(kEntered), std::string::npos) << held->Stderr();
    EXPECT_EQ(Count(other->Stderr(), kEntered), 1u);
    EXPECT_EQ(Count(stubborn->Stderr(), kEntered), 1u);

    // All held now but the stubborn one, which is written each time.
    auto again = RunCli({"--json", "-p", ports[0], "-p", ports[1], "-p", ports[3], "set", "code-page=PC858"});
    EXPECT_EQ(again.exit, 4);
    const Json g = Json::parse(again.out);
    EXPECT_EQ(g[0]["changed"], false);
    EXPECT_EQ(g[1]["changed"], false);
    EXPECT_EQ(g[2]["changed"], true);
    EXPECT_EQ(Count(other->Stderr(), kEntered), 1u);
    EXPECT_EQ(Count(stubborn->Stderr(), kEntered), 2u);
}

TEST_P(CliIdempotence, CheckOfAnUnreadablePrinterGivesTheReadFailure) {
    auto sim = Sim("p", {"--fault", "garbage"});
    auto r = RunCli({"--json", "--check", "-p", Port(*sim), "apply", DefaultsFile()});
    EXPECT_EQ(r.exit, 3) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["error"],
              "The printer sent an unreadable memory switch reply. Nothing was changed; please try "
              "again.");
    EXPECT_FALSE(j.contains("changed"));
    EXPECT_EQ(sim->Stderr().find(kEntered), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Lines, CliIdempotence, ::testing::Values(Link::Serial, Link::Network),
                         [](const auto& info) { return info.param == Link::Serial ? "Serial" : "Network"; });

TEST(CliIdempotenceOptions, CheckRefusesSelfTestAndForceBelongsToSetAndApply) {
    auto selfTest = RunCli({"--check", "-p", "COM1", "self-test", "1"}, 10000);
    EXPECT_EQ(selfTest.exit, 1);
    EXPECT_NE(selfTest.err.find("--check changes nothing: self-test prints a page"), std::string::npos)
        << selfTest.err;
    auto get = RunCli({"-p", "COM1", "get", "--force"}, 10000);
    EXPECT_EQ(get.exit, 1);
    EXPECT_NE(get.err.find("--force"), std::string::npos) << get.err;
}

} // namespace
