// pinwright-cli --baud auto and --backup against pinwright-sim --enforce-line, a printer that understands
// only the rate its switch 9 holds: it is found at every rate, followed through a change of rate and found
// there again, a silent one is given up in bounded time; every write keeps a backup that puts it back.
#include "cli/backup.h"
#include "settings/status_file.h"
#include "tests/support/cli_fixture.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const std::string kEntered = "-- user setting mode";

// Switch 9 for each rate (pins 6 to 8, pin 8 first), 8 bits, no parity, DTR/DSR.
const std::pair<int, const char*> kRates[] = {
    {9600, "00000000"}, {19200, "00100000"}, {38400, "01000000"}, {57600, "01100000"}, {115200, "10000000"}};

// What the printer took at a wrong rate, one burst per rate the tool tried: a status query for each of the
// six frames of the rate, and a confirmation where something answered.
void ExpectOnlyShortQueryProbesAtWrongRates(const std::string& simLog) {
    std::istringstream lines(simLog);
    std::string line, burstRate;
    std::vector<std::string> burst;
    auto check = [&] {
        if (burst.empty()) return;
        EXPECT_LE(burst.size(), 6u * 6)
            << "probes at " << burstRate << " carried " << burst.size() << " bytes";
        ASSERT_EQ(burst.size() % 3, 0u) << burstRate;
        for (std::size_t i = 0; i < burst.size(); i += 3) {
            const std::string cmd = burst[i] + " " + burst[i + 1] + " " + burst[i + 2];
            EXPECT_TRUE(cmd == "10 04 04" || cmd == "10 04 01")
                << "not a query at " << burstRate << ": " << cmd;
        }
        burst.clear();
    };
    const std::string mark = "<- (garbled: line at ";
    while (std::getline(lines, line)) {
        const std::size_t at = line.find(mark);
        if (at == std::string::npos) {
            if (line.find("<- ") != std::string::npos) check(); // the right rate: the burst has ended
            continue;
        }
        const std::string rate =
            line.substr(at + mark.size(), line.find(' ', at + mark.size()) - at - mark.size());
        if (rate != burstRate) check();
        burstRate = rate;
        std::istringstream hex(line.substr(line.find(')', at) + 1));
        for (std::string b; hex >> b;) burst.push_back(b);
    }
    check();
}

TEST_F(CliFixture, AutoFindsAPrinterAtEachRateTalksThereAndLeavesNoProbeBytesToPrint) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> args = {"--json", "--baud", "auto"};
    for (const auto& [rate, sw9] : kRates) {
        sims.push_back(
            Sim("p" + std::to_string(rate), {"--enforce-line", "--switch", std::string("9=") + sw9}));
        args.insert(args.end(), {"-p", PortOf(*sims.back())});
    }
    args.push_back("get");
    const auto started = std::chrono::steady_clock::now();
    const CliRun run = RunCli(args);
    const double took = SecondsSince(started);
    ASSERT_EQ(run.exit, 0) << run.err;
    const Json all = Json::parse(run.out);
    ASSERT_EQ(all.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const int rate = kRates[i].first;
        EXPECT_EQ(all[i]["line"],
                  Json({{"baud", rate}, {"data-bits", 8}, {"parity", "none"}, {"stop-bits", "1"}}))
            << all[i];
        EXPECT_EQ(all[i]["settings"]["baud-rate"], rate);
        EXPECT_EQ(all[i]["model"], "LTX-580");
    }
    EXPECT_LT(took, 20.0) << "side by side, each within its 30 candidates";
    for (auto& sim : sims) {
        sim->Stop();
        const std::string log = sim->Stderr();
        ExpectOnlyShortQueryProbesAtWrongRates(log);
        EXPECT_EQ(log.find("would print"), std::string::npos) << "probe bytes left to print\n" << log;
        EXPECT_EQ(log.find(kEntered), std::string::npos) << log;
    }
    EXPECT_EQ(sims[0]->Stderr().find("<- (garbled"), std::string::npos)
        << "9600 is tried first: no probe at another rate reached it\n"
        << sims[0]->Stderr();
    EXPECT_NE(sims[4]->Stderr().find("print buffer cleared"), std::string::npos)
        << "115200 is tried last: what the slower probes left was cleared\n"
        << sims[4]->Stderr();

    // A rate given by hand is said too, as text.
    auto sim = Sim("hand", {"--enforce-line", "--switch", "9=01000000"});
    const CliRun text = RunCli({"--baud", "38400", "-p", PortOf(*sim), "get"});
    ASSERT_EQ(text.exit, 0) << text.err;
    EXPECT_EQ(text.out.substr(0, text.out.find("firmware:")),
              "port: " + PortOf(*sim) + "\nline: 38400 8N1\n");
}

TEST_F(CliFixture, AChangeOfRateIsReadBackAtTheNewRateAndFoundThereNextRun) {
    auto sim = Sim("p", {"--enforce-line"});
    const std::string port = PortOf(*sim);
    auto set = RunCli({"--json", "--baud", "auto", "-p", port, "set", "baud-rate=38400"});
    ASSERT_EQ(set.exit, 0) << set.err;
    Json j = Json::parse(set.out);
    EXPECT_EQ(j["changed"], true);
    EXPECT_EQ(j["line"]["baud"], 38400) << "the read-back talked at the new rate";
    EXPECT_EQ(j["settings"]["baud-rate"], 38400);

    auto again = RunCli({"--json", "--baud", "auto", "-p", port, "set", "baud-rate=38400"});
    ASSERT_EQ(again.exit, 0) << again.err;
    j = Json::parse(again.out);
    EXPECT_EQ(j["changed"], false);
    EXPECT_EQ(j["line"]["baud"], 38400) << "found where the last run left it";

    auto back = RunCli({"--json", "--baud", "auto", "-p", port, "set", "baud-rate=115200"});
    ASSERT_EQ(back.exit, 0) << back.err;
    EXPECT_EQ(Json::parse(back.out)["line"]["baud"], 115200);
    auto stays = RunCli({"--json", "--baud", "auto", "-p", port, "set", "baud-rate=115200"});
    ASSERT_EQ(stays.exit, 0) << stays.err;
    EXPECT_EQ(Json::parse(stays.out)["changed"], false);
    sim->Stop();
    EXPECT_EQ(Count(sim->Stderr(), kEntered), 2u) << "two writes, two unchanged runs";
    ExpectSettingModeLeft(sim->Stderr());
}

TEST_F(CliFixture, ASilentPrinterIsGivenUpWithExit3SayingWhatWasTried) {
    auto sim = Sim("p", {"--enforce-line", "--fault", "silent"});
    const auto started = std::chrono::steady_clock::now();
    auto run = RunCli({"--baud", "auto", "-p", PortOf(*sim), "get"});
    const double took = SecondsSince(started);
    EXPECT_EQ(run.exit, 3) << run.out << run.err;
    EXPECT_NE(run.err.find("Tried 30: 9600 8N1, 9600 8E1, 9600 8O1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("115200 7E1, 115200 7N1."), std::string::npos) << run.err;
    EXPECT_LT(took, 5.0) << "30 short probes, not 30 connection checks";
    sim->Stop();
    ExpectOnlyShortQueryProbesAtWrongRates(sim->Stderr());
}

TEST_F(CliFixture, AutoOnANetworkPrinterHasNoLineToFind) {
    auto sim = Sim("n", {}, Link::Network);
    auto run = RunCli({"--json", "--baud", "auto", "-p", PortOf(*sim), "get"});
    ASSERT_EQ(run.exit, 0) << run.err;
    const Json j = Json::parse(run.out);
    EXPECT_FALSE(j.contains("line")) << j;
    EXPECT_EQ(j["model"], "LTX-580");
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(CliFixture, EveryWriteKeepsABackupOfTheSettingsAsReadThatPutsThemBack) {
    auto sim = Sim("p", {"--switch", "2=01010100"}); // a code page the tables do not list (10)
    const std::string port = PortOf(*sim);
    const std::string backups = Path("backups/till 1");
    auto got = RunCli({"--json", "-p", port, "--baud", "115200", "get", "-o", Path("as-read.sts")});
    ASSERT_EQ(got.exit, 0) << got.err;
    const Json before = Json::parse(got.out)["switches"];

    auto set =
        RunCli({"--json", "--backup", backups, "-p", port, "--baud", "115200", "set", "auto-cutter=partial"});
    ASSERT_EQ(set.exit, 0) << set.err;
    const Json j = Json::parse(set.out);
    ASSERT_TRUE(j.contains("backup")) << j;
    const std::string backup = j["backup"];
    EXPECT_EQ(fs::path(backup).parent_path(), fs::path(backups));
    EXPECT_EQ(fs::path(backup).extension(), ".sts");
    EXPECT_EQ(FileBytes(backup).size(), kStatusFileSize);
    SwitchModel saved;
    ASSERT_TRUE(DecodeStatus(FileBytes(backup), saved));
    SwitchModel read;
    ASSERT_TRUE(DecodeStatus(FileBytes(Path("as-read.sts")), read));
    EXPECT_EQ(EncodeStatus(saved), EncodeStatus(read)) << "the backup is the settings as read";
    EXPECT_NE(j["switches"], before);

    auto restore = RunCli({"--json", "-p", port, "--baud", "115200", "apply", backup});
    ASSERT_EQ(restore.exit, 0) << restore.out << restore.err;
    EXPECT_EQ(Json::parse(restore.out)["switches"], before) << "apply of the backup put every pin back";
    EXPECT_EQ(Json::parse(restore.out)["settings"]["code-page"], nullptr);

    // The text says where it went.
    auto text = RunCli({"--backup", backups, "-p", port, "--baud", "115200", "set", "auto-cutter=partial"});
    ASSERT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("\nbackup: " + backups), std::string::npos) << text.out;
    sim->Stop();
    ExpectSettingModeLeft(sim->Stderr());
}

// The UTC time a backup's name holds, "...-20261208T101500Z.sts" or "...-20261208T101500Z-2.sts".
std::time_t StampOf(const std::string& name) {
    const std::size_t z = name.rfind('Z');
    if (z == std::string::npos || z < 15) return -1;
    std::tm t{};
    if (std::sscanf(name.substr(z - 15, 15).c_str(), "%4d%2d%2dT%2d%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec) != 6)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return ::timegm(&t);
}

// Eight printers at once, reached through links whose names agree in their first 70 characters, in a
// machine whose time zone is not UTC; someone has planted dangling links at the names the first one's
// backup would take in the coming seconds.
TEST_F(CliFixture, BackupsOfManyPortsAtOnceAreAFileEachNeverThroughALinkAndNamedInUtc) {
    const std::string common = Path(std::string(70, 'p'));
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> args = {"--json", "--backup", Path("backups"), "--baud", "115200"};
    for (int i = 0; i < 8; ++i) {
        // Every other one has a code page the tables do not list (10), the rest PC850.
        std::vector<std::string> extra;
        if (i % 2 == 0) extra = {"--switch", "2=01010100"};
        sims.push_back(Sim("p" + std::to_string(i), extra));
        const std::string link = common + "-" + std::to_string(i);
        fs::create_symlink(PortOf(*sims.back()), link);
        args.insert(args.end(), {"-p", link});
    }
    args.insert(args.end(), {"set", "auto-cutter=partial"});
    fs::create_directories(Path("backups"));
    fs::create_directories(Path("elsewhere"));
    const std::time_t before = std::time(nullptr);
    std::vector<fs::path> planted;
    for (std::time_t t = before; t <= before + 20; ++t) {
        planted.push_back(fs::path(Path("backups")) / cli::BackupName(common + "-0", t));
        fs::create_symlink(Path("elsewhere/caught-" + std::to_string(t - before) + ".sts"), planted.back());
    }

    auto run = RunCli(args, 60000, {{"TZ", "XST-5"}});
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(run.exit, 0) << run.out << run.err;
    const Json j = Json::parse(run.out);
    ASSERT_EQ(j.size(), 8u) << run.out;
    std::set<std::string> backups;
    for (std::size_t i = 0; i < j.size(); ++i) {
        ASSERT_TRUE(j[i].contains("backup")) << j[i];
        const std::string backup = j[i]["backup"];
        backups.insert(backup);
        EXPECT_FALSE(fs::is_symlink(backup)) << backup;
        EXPECT_TRUE(fs::is_regular_file(backup)) << backup;
        SwitchModel saved;
        std::vector<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(ReadStatusFile(backup, bytes, error)) << error;
        ASSERT_TRUE(DecodeStatus(bytes, saved)) << backup;
        // The printers differ in their code page: each backup is its own port's.
        EXPECT_EQ(saved.m_nCodePageSel == -1, i % 2 == 0) << backup;
        const std::time_t stamp = StampOf(fs::path(backup).filename().string());
        EXPECT_GE(stamp, before) << backup << ": the time in the name is UTC";
        EXPECT_LE(stamp, after) << backup << ": the time in the name is UTC";
    }
    EXPECT_EQ(backups.size(), 8u) << "one file a port";
    EXPECT_TRUE(fs::is_empty(Path("elsewhere"))) << "a planted link was followed";
    for (const fs::path& link : planted) EXPECT_TRUE(fs::is_symlink(link)) << link;
    for (auto& sim : sims) {
        sim->Stop();
        ExpectSettingModeLeft(sim->Stderr());
    }
}

TEST_F(CliFixture, NoBackupWhenNothingIsWrittenAndAFolderThatCannotBeWrittenStopsBeforeAnyWrite) {
    auto sim = Sim("p");
    const std::string port = PortOf(*sim);
    const std::string backups = Path("backups");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"set", "baud-rate=115200"},
          std::vector<std::string>{"--check", "set", "code-page=PC858"}}) {
        std::vector<std::string> all = {"--json", "--backup", backups, "-p", port, "--baud", "115200"};
        all.insert(all.end(), args.begin(), args.end());
        auto run = RunCli(all);
        ASSERT_EQ(run.exit, 0) << run.err;
        EXPECT_FALSE(Json::parse(run.out).contains("backup")) << run.out;
    }
    EXPECT_FALSE(fs::exists(backups)) << "nothing written, nothing kept";

    const std::string file = Path("not-a-folder");
    std::ofstream(file) << "x";
    const std::string before = Switches("p");
    auto refused = RunCli({"--backup", file, "-p", port, "--baud", "115200", "set", "code-page=PC858"});
    EXPECT_EQ(refused.exit, 1) << refused.out << refused.err;
    EXPECT_NE(refused.err.find("backup"), std::string::npos) << refused.err;
    EXPECT_NE(refused.out.find("written: no"), std::string::npos) << refused.out;
    EXPECT_EQ(Switches("p"), before);
    sim->Stop();
    EXPECT_EQ(sim->Stderr().find(kEntered), std::string::npos) << "never entered user setting mode";
}

} // namespace
