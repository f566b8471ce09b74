// pinwright-cli at the printer's pace, against pinwright-sim with a pace of its own (--think before each
// reply, --restart after user setting mode): a quick printer is read in milliseconds, a slow one as long
// as it needs, and one that never comes back after a write is reported in the write's phase.
#include "tests/support/cli_fixture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace pw::test;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

using CliPace = CliFixture;

TEST_F(CliPace, AQuickPrinterIsReadAndWrittenInTheTimeOfItsReplies) {
    for (const Link link : {Link::Serial, Link::Network}) {
        auto sim = Sim(link == Link::Serial ? "quick-pty" : "quick-tcp", {}, link);
        std::vector<std::string> port = {"-p", PortOf(*sim)};
        if (link == Link::Serial) port.insert(port.end(), {"--baud", "115200"});
        auto timed = [&](std::vector<std::string> command) {
            std::vector<std::string> args = port;
            args.insert(args.end(), command.begin(), command.end());
            const auto t0 = Clock::now();
            const CliRun run = RunCli(args);
            EXPECT_EQ(run.exit, 0) << run.err;
            return SecondsSince(t0);
        };
        // The dialogs' fixed waits would be 2 s for a read and 5 s for a write.
        EXPECT_LT(timed({"get"}), 1.0);
        EXPECT_LT(timed({"set", "auto-cutter=partial"}), 1.5);
        sim->Stop();
        ExpectSettingModeLeft(sim->Stderr());
    }
}

TEST_F(CliPace, APrinterThatRestartsForFourSecondsIsWrittenAndReadBack) {
    // Longer than the two seconds the dialogs give it; asked while it restarts, it answers nothing.
    auto sim = Sim("slow", {"--restart", "4000"});
    const auto t0 = Clock::now();
    const CliRun run = RunCli({"--json", "--baud", "115200", "-p", PortOf(*sim), "set", "code-page=PC858"});
    const double took = SecondsSince(t0);
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["settings"]["code-page"], "PC858");
    EXPECT_GE(took, 4.0);
    EXPECT_LT(took, 4.0 + 2.0) << "taken within a poll interval of its return";
    sim->Stop();
    EXPECT_NE(sim->Stderr().find("restarting: lost 10 04 01"), std::string::npos)
        << "queries in flight while it restarts are lost\n"
        << sim->Stderr();
}

TEST_F(CliPace, APrinterThatTakes600MsForEachReplyIsRead) {
    auto sim = Sim("thinker", {"--think", "600"});
    const CliRun get = RunCli({"--json", "--baud", "115200", "-p", PortOf(*sim), "get"});
    ASSERT_EQ(get.exit, 0) << get.err;
    EXPECT_EQ(Json::parse(get.out)["model"], "LTX-580");
    // Slow to answer and slow to restart: the queries sent while it restarts and thinks get lost or come
    // late, and it is taken when an answer comes.
    auto both = Sim("both", {"--think", "300", "--restart", "1000"});
    const CliRun set =
        RunCli({"--json", "--baud", "115200", "-p", PortOf(*both), "set", "auto-cutter=partial"});
    ASSERT_EQ(set.exit, 0) << set.err;
    EXPECT_EQ(Json::parse(set.out)["settings"]["auto-cutter"], "partial");
}

TEST_F(CliPace, APrinterThatNeverComesBackIsReportedAsWrittenAndNotReadBack) {
    auto sim = Sim("gone", {"--restart", "60000"});
    const auto t0 = Clock::now();
    const CliRun run = RunCli({"--json", "--baud", "115200", "-p", PortOf(*sim), "set", "code-page=PC858"});
    const double took = SecondsSince(t0);
    EXPECT_EQ(run.exit, 3) << run.err;
    const Json j = Json::parse(run.out);
    EXPECT_EQ(j["written"], "yes");
    EXPECT_EQ(j["error"].get<std::string>().rfind(
                  "the settings were written, but the printer did not come back to be read", 0),
              0u)
        << j;
    EXPECT_GE(took, 15.0) << "it was given 15 s, then the read-back's own waits (10 s for its first reply)";
    EXPECT_LT(took, 30.0) << "and no more";
    EXPECT_EQ(Switches("gone").find("switch 2 = 00010100"), std::string::npos)
        << "the printer took the new code page before it went\n"
        << Switches("gone");
}

} // namespace
