// --baud auto against printers that take the probe's bits apart as a UART does (pinwright-sim
// --enforce-line, with the tool's tcsetattr reported to it so that it knows the data length and parity
// too): at every line switch 9 can hold, with both ways a printer can treat a character read with an
// error, the search prints nothing, feeds nothing, cuts nothing and kicks no drawer; status sends nothing
// but DLE EOT n; the commands that may send ESC @ leave the print buffer empty.
#include "tests/support/cli_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

using namespace pw::test;
using Json = nlohmann::json;

namespace {

struct Line {
    int baud;
    int dataBits;
    char parity;
    std::string Text() const { return std::to_string(baud) + " " + std::to_string(dataBits) + parity + "1"; }
    // Switch 9, pin 8 first: pins 6 to 8 the rate, pin 4 parity check, pin 3 even, pin 2 seven bits.
    std::string Switch9() const {
        const int rates[] = {9600, 19200, 38400, 57600, 115200};
        int index = 0;
        while (rates[index] != baud) ++index;
        int pins = index << 5;
        if (dataBits == 7) pins |= 0x02;
        if (parity != 'N') pins |= 0x08;
        if (parity == 'E') pins |= 0x04;
        std::string text;
        for (int pin = 8; pin >= 1; --pin) text += (pins >> (pin - 1)) & 1 ? '1' : '0';
        return text;
    }
};

std::vector<Line> EveryLine() {
    std::vector<Line> all;
    for (int baud : {9600, 19200, 38400, 57600, 115200})
        for (const auto& [bits, parity] :
             std::vector<std::pair<int, char>>{{8, 'N'}, {8, 'E'}, {8, 'O'}, {7, 'O'}, {7, 'E'}, {7, 'N'}})
            all.push_back({baud, bits, parity});
    return all;
}

std::string JsonParity(char p) {
    return p == 'N' ? "none" : p == 'E' ? "even" : "odd";
}

// The print model's count at the end: "printed L lines, fed F, cut C, kicked K drawers, buffer ...".
struct Effects {
    int printed = -1, fed = -1, cut = -1, kicked = -1;
    std::string buffer;
};
Effects EffectsOf(const std::string& simLog) {
    static const std::regex kSummary(
        R"(-- print: printed (\d+) lines, fed (\d+), cut (\d+), kicked (\d+) drawers, buffer ([^\n]*))");
    std::smatch m;
    Effects e;
    if (!std::regex_search(simLog, m, kSummary)) return e;
    e.printed = std::stoi(m[1]);
    e.fed = std::stoi(m[2]);
    e.cut = std::stoi(m[3]);
    e.kicked = std::stoi(m[4]);
    e.buffer = m[5];
    return e;
}

// Every byte the tool sent, as the simulator traced it (at its line or not), in hex.
std::vector<std::string> BytesSent(const std::string& simLog) {
    std::vector<std::string> out;
    std::istringstream lines(simLog);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("] <-");
        if (at == std::string::npos) continue;
        std::string rest = line.substr(at + 4);
        if (const std::size_t close = rest.find(") "); rest.rfind(" (", 0) == 0 && close != std::string::npos)
            rest = rest.substr(close + 1);
        std::istringstream hex(rest);
        for (std::string b; hex >> b;) out.push_back(b);
    }
    return out;
}

class LineModel : public CliFixture {
  protected:
    std::map<std::string, std::string> ToolEnv() {
        std::filesystem::create_directories(Path("reports"));
        std::map<std::string, std::string> env = {{"LD_PRELOAD", PINWRIGHT_LINE_REPORT_LIB},
                                                  {"PINWRIGHT_LINE_REPORT_DIR", Path("reports")}};
        // A sanitizer's runtime would refuse to come after the preloaded library.
        const char* asan = std::getenv("ASAN_OPTIONS");
        env["ASAN_OPTIONS"] =
            std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
        return env;
    }
    std::unique_ptr<SimProcess> Printer(const std::string& name, const Line& line, const std::string& errors,
                                        std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--enforce-line",     "--line-report", Path("reports"),
                                         "--line-errors",      errors,          "--switch",
                                         "9=" + line.Switch9()};
        args.insert(args.end(), extra.begin(), extra.end());
        return Sim(name, args);
    }
};

TEST_F(LineModel, APrinterAtEveryLineIsFoundByGetAndStatusAndLeftAsItWas) {
    const std::vector<Line> lines = EveryLine();
    const auto env = ToolEnv();
    for (const std::string errors : {"process", "drop"}) {
        for (const std::string command : {"get", "status"}) {
            std::vector<std::unique_ptr<SimProcess>> sims;
            std::vector<std::string> args = {"--json", "--baud", "auto"};
            for (std::size_t i = 0; i < lines.size(); ++i) {
                sims.push_back(Printer(command + errors + std::to_string(i), lines[i], errors,
                                       {"--columns", i % 2 ? "48" : "32"}));
                args.insert(args.end(), {"-p", PortOf(*sims.back())});
            }
            args.push_back(command);
            const CliRun run = RunCli(args, 60000, env);
            ASSERT_EQ(run.exit, 0) << errors << " " << command << "\n" << run.err;
            const Json all = Json::parse(run.out);
            ASSERT_EQ(all.size(), lines.size());
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const Line& l = lines[i];
                const std::string what = errors + " " + command + " at " + l.Text();
                // Status queries read alike at several frames of a rate (a 7E1 printer's 12 reaches an 8N1
                // port as 12): status finds the rate and reads the status right; get settles the frame by
                // switch 9.
                if (command == "get")
                    EXPECT_EQ(all[i]["line"], Json({{"baud", l.baud},
                                                    {"data-bits", l.dataBits},
                                                    {"parity", JsonParity(l.parity)},
                                                    {"stop-bits", "1"}}))
                        << what << "\n"
                        << all[i];
                else
                    EXPECT_EQ(all[i]["line"]["baud"], l.baud) << what << "\n" << all[i];
                sims[i]->Stop();
                const std::string log = sims[i]->Stderr();
                const Effects e = EffectsOf(log);
                EXPECT_EQ(e.printed, 0) << what << "\n" << log;
                EXPECT_EQ(e.fed, 0) << what;
                EXPECT_EQ(e.cut, 0) << what;
                EXPECT_EQ(e.kicked, 0) << what;
                if (command == "get" || l.baud == 9600) {
                    // ESC @ at the line found clears what the probes left; at 9600 no probe came before.
                    EXPECT_EQ(e.buffer, "empty") << what << "\n" << log;
                }
                if (command == "status") {
                    const std::vector<std::string> sent = BytesSent(log);
                    ASSERT_EQ(sent.size() % 3, 0u) << what;
                    for (std::size_t k = 0; k < sent.size(); k += 3)
                        EXPECT_TRUE(sent[k] == "10" && sent[k + 1] == "04" && sent[k + 2] >= "01" &&
                                    sent[k + 2] <= "04")
                            << what << ": not DLE EOT n: " << sent[k] << " " << sent[k + 1] << " "
                            << sent[k + 2];
                    EXPECT_EQ(all[i]["status"]["online"], true) << what;
                }
            }
        }
    }
}

TEST_F(LineModel, AnOfflinePrinterIsFoundByStatusAndItsHeldCommandsPrintNothing) {
    auto sim = Printer("offline", {38400, 8, 'N'}, "process", {"--fault", "paper-out"});
    const auto env = ToolEnv();
    const CliRun status = RunCli({"--json", "--baud", "auto", "-p", PortOf(*sim), "status"}, 60000, env);
    EXPECT_EQ(status.exit, 5) << status.err;
    const Json j = Json::parse(status.out);
    EXPECT_EQ(j["line"]["baud"], 38400);
    EXPECT_EQ(j["status"]["paper"], "out");
    // get needs the printer online: its identification waits, unanswered, and nothing is printed.
    const CliRun get = RunCli({"--baud", "auto", "-p", PortOf(*sim), "get"}, 60000, env);
    EXPECT_EQ(get.exit, 3) << get.out << get.err;
    sim->Stop();
    const Effects e = EffectsOf(sim->Stderr());
    EXPECT_EQ(e.printed + e.fed + e.cut + e.kicked, 0) << sim->Stderr();
}

// Replies that take time: a printer that thinks 100 ms (its answers come while later candidates wait, and
// another frame of its rate answers too), one whose bytes take their time at 9600, a 7-bit one at 115200.
TEST_F(LineModel, APrinterThatTakesItsTimeIsFoundAtItsOwnLineAndLeftAsItWas) {
    const auto env = ToolEnv();
    const std::vector<std::pair<Line, std::vector<std::string>>> printers = {
        {{9600, 8, 'N'}, {"--think", "100"}},
        {{9600, 7, 'N'}, {"--pace", "9600"}},
        {{9600, 7, 'E'}, {"--pace", "9600"}},
        {{115200, 7, 'N'}, {"--pace", "115200"}}};
    for (const std::string errors : {"process", "drop"}) {
        for (const auto& [line, pace] : printers) {
            auto sim = Printer("slow" + errors + line.Text().substr(0, line.Text().find(' ')) + line.parity,
                               line, errors, pace);
            const CliRun run = RunCli({"--json", "--baud", "auto", "-p", PortOf(*sim), "get"}, 60000, env);
            const std::string what = errors + " " + line.Text() + " " + pace[0] + " " + pace[1];
            ASSERT_EQ(run.exit, 0) << what << "\n" << run.err;
            EXPECT_EQ(Json::parse(run.out)["line"]["data-bits"], line.dataBits) << what;
            EXPECT_EQ(Json::parse(run.out)["line"]["parity"], JsonParity(line.parity)) << what;
            sim->Stop();
            const Effects e = EffectsOf(sim->Stderr());
            EXPECT_EQ(e.printed + e.fed + e.cut + e.kicked, 0) << what << "\n" << sim->Stderr();
            EXPECT_EQ(e.buffer, "empty") << what << "\n" << sim->Stderr();
        }
    }
}

// A printer that answers at any line (a USB printer's virtual serial port, say) is found at the first
// candidate; its switch 9 says where it really listens, and the command goes on there.
TEST_F(LineModel, ALineThatAnswersButDisagreesWithSwitchNineIsNotTaken) {
    const Line held{38400, 8, 'E'};
    auto sim = Sim("anyline", {"--switch", "9=" + held.Switch9()});
    const CliRun run = RunCli({"--json", "--baud", "auto", "-p", PortOf(*sim), "get"});
    ASSERT_EQ(run.exit, 0) << run.err;
    const Json j = Json::parse(run.out);
    EXPECT_EQ(j["line"], Json({{"baud", 38400}, {"data-bits", 8}, {"parity", "even"}, {"stop-bits", "1"}}));
    EXPECT_NE(run.err.find("answered at 9600 8N1, but its switch 9 holds 38400 8E1"), std::string::npos)
        << run.err;
    // status reads no switch: the line that answers is the line it reads at.
    const CliRun status = RunCli({"--json", "--baud", "auto", "-p", PortOf(*sim), "status"});
    ASSERT_EQ(status.exit, 0) << status.err;
    EXPECT_EQ(Json::parse(status.out)["line"]["baud"], 9600);
}

// The reply to DLE EOT 1 is two bytes, the printer's cover open: read alone, never as the reply to
// DLE EOT 2, on a pseudo-terminal as on the network.
TEST_F(LineModel, AStatusReplyOfTwoBytesIsUnreadableOnEveryKindOfPort) {
    for (const Link link : {Link::Serial, Link::Network}) {
        const std::string kind = link == Link::Serial ? "pty: " : "tcp: ";
        auto sim = Sim("two", {"--fault", "cover-open", "--fault", "status-byte=1:1A1A"}, link);
        std::vector<std::string> args = {"--json", "-p", PortOf(*sim)};
        if (link == Link::Serial) args.insert(args.end(), {"--baud", "115200"});
        args.push_back("status");
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exit, 3) << kind << run.out << run.err;
        EXPECT_NE(run.err.find("a byte too many (0x1A) by the reply to DLE EOT 1"), std::string::npos)
            << kind << run.err;
        EXPECT_EQ(run.out.find("feed-button"), std::string::npos) << kind << run.out;
    }
    // Its second byte late, a byte at a time 10 ms apart: still the reply's, never the next one's.
    auto late = Sim("late", {"--think", "50", "--fault", "status-byte=1:121A", "--fault", "trickle=10"});
    const CliRun run = RunCli({"--baud", "115200", "-p", PortOf(*late), "status"});
    EXPECT_EQ(run.exit, 3) << run.out << run.err;
    EXPECT_NE(run.err.find("a byte too many (0x1A) by the reply to DLE EOT 1"), std::string::npos) << run.err;
}

TEST_F(LineModel, AStopDuringTheSearchSaysThatStatusQueriesWentOut) {
    auto sim = Sim("silent", {"--enforce-line", "--fault", "silent"});
    CliProcess cli({"--baud", "auto", "-p", PortOf(*sim), "get"});
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // into the search: it probes every 60 ms
    cli.Signal(SIGINT);
    ASSERT_EQ(cli.Wait(10000), 130) << cli.Stderr();
    EXPECT_NE(cli.Stderr().find("only status queries (DLE EOT) went out while the line was sought; nothing "
                                "was changed"),
              std::string::npos)
        << cli.Stderr();
    EXPECT_EQ(cli.Stderr().find("nothing was sent"), std::string::npos) << cli.Stderr();
}

} // namespace
