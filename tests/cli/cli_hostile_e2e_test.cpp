// pinwright-cli under hostile input, end to end against pinwright-sim: printer texts that are not text,
// replies in pieces, signals and a reader that went away, files that are not ports, a thread that cannot
// start.
#include "tests/support/cli_fixture.h"
#include "tests/support/fake_sysfs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

using namespace pw::test;
using Json = nlohmann::json;

namespace {

// Where `text` first breaks what a terminal may be shown: a byte outside valid UTF-8, a control byte
// other than the line end, a C1 control, a line or paragraph separator, a bidirectional override. Empty
// when nothing does.
std::string Offence(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
            ++i;
            continue;
        }
        int n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (c >= 0xF5) n = 0;
        std::uint32_t cp = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (int k = 1; k < n; ++k) {
            const auto b = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            if ((b & 0xC0) != 0x80) n = 0;
            cp = cp << 6 | (b & 0x3F);
        }
        const bool control = cp <= 0x9F || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
                             (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F;
        if (n == 0 || control || (n == 3 && cp < 0x800) || (cp >= 0xD800 && cp <= 0xDFFF))
            return "byte " + std::to_string(c) + " at " + std::to_string(i) + " of:\n" + text;
        i += static_cast<std::size_t>(n);
    }
    return {};
}

// The text output as blocks of "key: value" lines, one block a port.
std::vector<std::vector<std::pair<std::string, std::string>>> Blocks(const std::string& out) {
    std::vector<std::vector<std::pair<std::string, std::string>>> blocks(1);
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            blocks.emplace_back();
            continue;
        }
        const auto colon = line.find(": ");
        blocks.back().emplace_back(line.substr(0, colon),
                                   colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    return blocks;
}

struct Hostile {
    std::string name;
    std::vector<std::string> sim;
    Link link;
    std::string field;  // which identity text the printer sends hostile, or "" for none
    std::string asJson; // how the JSON output gives it
    std::string asText; // how the text output shows it
    bool warned;        // the maker or model does not match: the warnings are on standard error
};

// One table: each printer a hostile case, all driven at once through get and set, as text and as JSON.
TEST_F(CliFixture, HostilePrinterTextsNeverReachTheTerminalRawNorBreakTheJson) {
    const std::vector<Hostile> cases = {
        {"latin1", {"--maker", "ACM\\xe9"}, Link::Serial, "maker", "ACM\xEF\xBF\xBD", "ACM\\xe9", true},
        {"escapes",
         {"--maker", "MERIDOX\\x1b[2J\\x1b]0;owned\\x07"},
         Link::Serial,
         "maker",
         "MERIDOX\x1b[2J\x1b]0;owned\x07",
         "MERIDOX\\x1b[2J\\x1b]0;owned\\x07",
         true},
        {"forged",
         {"--model", "LTX-580\\x0aexit: 0"},
         Link::Serial,
         "model",
         "LTX-580\nexit: 0",
         "LTX-580\\x0aexit: 0",
         false},
        {"cut",
         {"--firmware", "2.10 \\xc3"},
         Link::Serial,
         "firmware",
         "2.10 \xEF\xBF\xBD",
         "2.10 \\xc3",
         false},
        {"c1-del",
         {"--model", "LTX-580\\xc2\\x9b2J\\xe2\\x80\\xae\\xc2\\x80\\xc2\\x9f\\x7f"},
         Link::Network,
         "model",
         "LTX-580\xC2\x9B"
         "2J\xE2\x80\xAE\xC2\x80\xC2\x9F\x7F",
         "LTX-580\\xc2\\x9b2J\\xe2\\x80\\xae\\xc2\\x80\\xc2\\x9f\\x7f",
         false},
        {"pieces", {"--fault", "trickle=15"}, Link::Network, "", "", "", false},
    };
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> ports;
    for (const Hostile& c : cases) {
        sims.push_back(Sim(c.name, c.sim, c.link));
        ports.push_back(PortOf(*sims.back()));
    }
    struct Run {
        std::vector<std::string> args;
        std::string codePage, switch2; // what the printers hold after it
    };
    const std::vector<Run> runs = {{{"get"}, "PC850", "00010100"},
                                   {{"--json", "get"}, "PC850", "00010100"},
                                   {{"set", "code-page=PC858"}, "PC858", "01001100"},
                                   {{"--json", "set", "code-page=PC850"}, "PC850", "00010100"}};
    for (const auto& [run, codePage, switch2] : runs) {
        std::vector<std::string> args;
        for (const std::string& p : ports) args.insert(args.end(), {"-p", p});
        args.insert(args.end(), run.begin(), run.end());
        const std::string what = run.size() > 1 && run[0] == "--json" ? run[1] + " --json" : run[0];
        auto r = RunCli(args, 90000);
        ASSERT_EQ(r.exit, 0) << what << "\n" << r.err;
        EXPECT_EQ(Offence(r.out), "") << what;
        EXPECT_EQ(Offence(r.err), "") << what;
        // Every message line names its port; a warning shows the maker text as the terminal may.
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);) {
            bool named = false;
            for (const std::string& p : ports) named = named || line.rfind(p + ": ", 0) == 0;
            EXPECT_TRUE(named) << what << ": " << line;
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const Hostile& c = cases[i];
            const std::string warning = ports[i] + ": This printer don't match our ";
            EXPECT_EQ(r.err.find(warning) != std::string::npos, c.warned) << what << " " << c.name << "\n"
                                                                          << r.err;
            if (c.field == "maker") {
                EXPECT_NE(r.err.find(ports[i] + ": " + c.asText + "\n"), std::string::npos) << r.err;
            }
        }
        if (run[0] == "--json") {
            Json j;
            ASSERT_NO_THROW(j = Json::parse(r.out)) << what << "\n" << r.out;
            ASSERT_EQ(j.size(), cases.size());
            for (std::size_t i = 0; i < cases.size(); ++i) {
                EXPECT_EQ(j[i]["port"], ports[i]);
                EXPECT_FALSE(j[i].contains("error")) << j[i];
                if (!cases[i].field.empty()) {
                    EXPECT_EQ(j[i][cases[i].field], cases[i].asJson) << cases[i].name;
                }
                EXPECT_EQ(j[i]["switches"]["2"], switch2);
                EXPECT_EQ(j[i]["settings"]["code-page"], codePage);
            }
            continue;
        }
        const auto blocks = Blocks(r.out);
        ASSERT_EQ(blocks.size(), cases.size()) << what << "\n" << r.out;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            std::map<std::string, std::string> fields;
            for (const auto& [key, value] : blocks[i]) {
                EXPECT_TRUE(fields.emplace(key, value).second) << what << ": '" << key << "' twice, forged?\n"
                                                               << r.out;
                EXPECT_NE(key, "exit") << what << ": a forged line\n" << r.out;
            }
            EXPECT_EQ(fields["port"], ports[i]);
            if (!cases[i].field.empty()) {
                EXPECT_EQ(fields[cases[i].field], cases[i].asText) << cases[i].name;
            }
            EXPECT_EQ(fields["code-page"], codePage);
            EXPECT_EQ(fields["switch 2"], switch2);
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        sims[i]->Stop();
        ExpectSettingModeLeft(sims[i]->Stderr());
    }
}

// The USB discovery's lines name the device paths it tries: through the same escaping as every other
// text from outside.
TEST_F(CliFixture, UsbDiscoveryLinesShowDevicePathsEscaped) {
    const std::string usbDir = Path("usb\x1b]0;owned\x07\x9b"
                                    "2J\xff");
    auto sim = Sim("p", {"--usb-dir", usbDir});
    auto check = RunCli({"-p", "USB", "check"}, 60000, {{"PINWRIGHT_USB_DIR", usbDir}});
    EXPECT_EQ(check.exit, 0) << check.err;
    EXPECT_EQ(Offence(check.err), "");
    EXPECT_NE(check.err.find("Attempting to open " + Path("usb\\x1b]0;owned\\x07\\x9b2J\\xff") + "/lp0"),
              std::string::npos)
        << check.err;
}

// What the system says of a device (sysfs) and a status file's name come from outside as printer texts do:
// `ports` and `show` escape them on the terminal and keep the JSON valid ASCII, a byte that is not UTF-8
// given as U+FFFD.
TEST_F(CliFixture, DeviceTextsAndFileNamesFromOutsideReachTheTerminalEscapedAndTheJsonValid) {
    FakeSysfs sys;
    sys.AddUsb("tty", "ttyUSB0", "FT\xE9", "USB\x1b[2J\xC2\x9BUART\x7F", "0403", "6001");
    const std::string file = Path("caf\xE9.sts");
    std::filesystem::copy_file(DefaultsFile(), file);
    struct Case {
        std::vector<std::string> args;
        std::string asJson, asText; // how the outside text is given in each
    };
    const std::vector<Case> cases = {
        // sysfs's reader already blanks C0 controls and DEL.
        {{"ports"}, "FT\xEF\xBF\xBD USB [2J\xC2\x9BUART", "FT\\xe9 USB [2J\\xc2\\x9bUART"},
        {{"show", file}, Path("caf\xEF\xBF\xBD.sts"), "file: " + Path("caf\\xe9.sts")},
    };
    for (const Case& c : cases) {
        std::vector<std::string> json = {"--json"};
        json.insert(json.end(), c.args.begin(), c.args.end());
        auto j = RunCli(json, 20000);
        ASSERT_EQ(j.exit, 0) << c.args[0] << "\n" << j.err;
        EXPECT_TRUE(std::all_of(j.out.begin(), j.out.end(), [](char b) { return (b & 0x80) == 0; }))
            << c.args[0] << ": not ASCII\n"
            << j.out;
        Json parsed;
        ASSERT_NO_THROW(parsed = Json::parse(j.out)) << c.args[0] << "\n" << j.out;
        EXPECT_EQ(c.args[0] == "ports" ? parsed[0]["product"] : parsed["file"], c.asJson) << j.out; // COM1
        auto t = RunCli(c.args, 20000);
        ASSERT_EQ(t.exit, 0) << c.args[0] << "\n" << t.err;
        EXPECT_EQ(Offence(t.out), "") << c.args[0];
        EXPECT_NE(t.out.find(c.asText), std::string::npos) << c.args[0] << "\n" << t.out;
    }
}

// A session that drops (SIGHUP), a kill (SIGTERM), a reader that went away (SIGPIPE): each ends user setting
// mode first, and the exit status is the shell's, 128 + the signal. The JSON of each such stop follows the
// schema (CliProcess checks it), the text gives the same status.
TEST_F(CliFixture, EveryStopSignalInUserSettingModeEndsTheModeAndGives128PlusTheSignal) {
    const std::string file = DefaultsFile();
    const std::vector<int> signals = {SIGHUP, SIGTERM, SIGPIPE, SIGINT, SIGHUP, SIGTERM};
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<CliProcess>> clis;
    for (std::size_t i = 0; i < signals.size(); ++i) {
        // The pre-check, the read and the pre-check again are 15 commands; the 16th enters user setting
        // mode, and from then on the printer answers 3 s late: the signal comes while the run waits in the
        // mode for its notice.
        sims.push_back(Sim("p" + std::to_string(i), {"--fault", "delay=3000", "--fault", "from=15"}));
        std::vector<std::string> args = {"-p", PortOf(*sims.back()), "apply", file};
        if (i < 4) args.insert(args.begin(), "--json");
        clis.push_back(std::make_unique<CliProcess>(args));
    }
    for (std::size_t i = 0; i < signals.size(); ++i) {
        bool entered = false;
        for (int t = 0; t < 1000 && !entered; ++t) {
            entered = sims[i]->Stderr().find("-- user setting mode") != std::string::npos;
            if (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(entered) << "waited 10 s for printer " << i << " to enter user setting mode";
        clis[i]->Signal(signals[i]);
    }
    for (std::size_t i = 0; i < signals.size(); ++i) {
        EXPECT_EQ(clis[i]->Wait(10000), 128 + signals[i])
            << "signal " << signals[i] << " killed it? " << clis[i]->KilledBy() << "\n"
            << clis[i]->Stderr();
        EXPECT_NE(clis[i]->Stderr().find(PortOf(*sims[i]) + ": interrupted; "), std::string::npos)
            << clis[i]->Stderr();
        const std::string exit = std::to_string(128 + signals[i]);
        EXPECT_NE(clis[i]->Stdout().find(i < 4 ? "\"exit\": " + exit : "exit: " + exit), std::string::npos)
            << clis[i]->Stdout();
        sims[i]->Stop();
        ExpectSettingModeLeft(sims[i]->Stderr());
    }
}

// `pinwright-cli ... | head`: output nobody reads any more is no reason to strand a printer or to die.
TEST_F(CliFixture, OutputWhoseReaderWentAwayEndsAsSigpipeWouldWithoutKillingTheProgram) {
    auto sim = Sim("p");
    CliStart gone;
    gone.readerGone = true;
    // The message before the read-back finds the reader gone: the run stops there, the settings written.
    CliProcess set({"-p", PortOf(*sim), "set", "baud-rate=19200"}, {}, gone);
    EXPECT_EQ(set.Wait(20000), 128 + SIGPIPE) << "ended by signal " << set.KilledBy();
    CliProcess get({"--json", "-p", PortOf(*sim), "get"}, {}, gone);
    EXPECT_EQ(get.Wait(20000), 128 + SIGPIPE) << "ended by signal " << get.KilledBy();
    sim->Stop();
    ExpectSettingModeLeft(sim->Stderr());
    EXPECT_NE(Switches("p").find("switch 9 = 00100000"), std::string::npos) << Switches("p");
}

// A path that names a plain file, here as a port and as a USB printer, is never written to.
TEST_F(CliFixture, AFileThatIsNoDeviceIsRefusedWithExit2AndLeftAsItWas) {
    const std::string file = Path("shop.sts");
    std::ofstream(file) << "the shop's settings";
    std::filesystem::create_directories(Path("usb"));
    std::ofstream(Path("usb/lp0")) << "not a printer";
    auto asPort = RunCli({"-p", file, "apply", DefaultsFile()}, 20000);
    EXPECT_EQ(asPort.exit, 2) << asPort.err;
    EXPECT_NE(asPort.err.find(file + " (" + file + ") is not a device"), std::string::npos) << asPort.err;
    auto asUsb = RunCli({"-p", "USB", "check"}, 20000, {{"PINWRIGHT_USB_DIR", Path("usb")}});
    EXPECT_EQ(asUsb.exit, 2) << asUsb.err;
    EXPECT_EQ(ReadWhole(file), "the shop's settings");
    EXPECT_EQ(ReadWhole(Path("usb/lp0")), "not a printer");
}

// When the system gives no thread for a port, that port fails alone and the program ends.
TEST_F(CliFixture, APortWhoseThreadCannotStartFailsWithoutAHang) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime needs more address space than the limit leaves";
#endif
    auto sim = Sim("p");
    CliStart limited;
    limited.addressSpace = 512ull << 20; // a thread's stack (the stack limit) cannot fit
    limited.stack = 1024ull << 20;
    CliProcess cli({"--json", "-p", PortOf(*sim), "get"}, {}, limited);
    EXPECT_EQ(cli.Wait(20000), 2) << cli.Stderr();
    EXPECT_NE(cli.Stderr().find("No thread could be started for this port; nothing was sent."),
              std::string::npos)
        << cli.Stderr();
    EXPECT_EQ(Json::parse(cli.Stdout())["exit"], 2);
    sim->Stop();
    EXPECT_EQ(sim->Stderr().find("<-"), std::string::npos) << "the printer got nothing";
}

} // namespace

namespace {

// Ports beyond what even the hard open files limit allows are refused before any port is opened.
TEST_F(CliFixture, MorePortsThanTheHardOpenFilesLimitAllowsAreRefusedBeforeAnythingIsSent) {
    auto sim = Sim("p", {}, Link::Network);
    std::vector<std::string> args = {"--json", "-p", PortOf(*sim)};
    for (int port = 1; port <= 299; ++port)
        args.insert(args.end(), {"-p", "tcp://127.0.0.2:" + std::to_string(port)});
    args.push_back("status");
    CliStart limited;
    limited.openFilesSoft = limited.openFilesHard = 256;
    CliProcess cli(args, {}, limited);
    EXPECT_EQ(cli.Wait(20000), 2) << cli.Stderr();
    EXPECT_TRUE(std::regex_search(
        cli.Stderr(), std::regex("300 ports at once: they need about 12[0-9][0-9] open files, and this "
                                 "process may open 256 at most \\(ulimit -Hn\\); nothing was sent\\.")))
        << cli.Stderr();
    sim->Stop();
    EXPECT_EQ(sim->Stderr().find("connected"), std::string::npos) << sim->Stderr();
}

// What a run needs beside its ports is what it holds at its start and a few more, not a fixed 64: one port
// works under a hard limit of 24, and six are refused under it before anything is sent.
TEST_F(CliFixture, OnePortWorksUnderAHardOpenFilesLimitOf24AndMorePortsThanFitAreRefused) {
    auto sim = Sim("p", {}, Link::Network);
    CliStart limited;
    limited.openFilesSoft = limited.openFilesHard = 24;
    CliProcess one({"--json", "-p", PortOf(*sim), "status"}, {}, limited);
    EXPECT_EQ(one.Wait(20000), 0) << one.Stderr();
    EXPECT_EQ(Json::parse(one.Stdout())["status"]["online"], true) << one.Stdout();

    std::vector<std::string> args = {"--json", "-p", PortOf(*sim)};
    for (int port = 1; port <= 5; ++port)
        args.insert(args.end(), {"-p", "tcp://127.0.0.2:" + std::to_string(port)});
    args.push_back("status");
    CliProcess six(args, {}, limited);
    EXPECT_EQ(six.Wait(20000), 2) << six.Stderr();
    EXPECT_NE(six.Stderr().find("6 ports at once: they need about "), std::string::npos) << six.Stderr();
    EXPECT_NE(six.Stderr().find("may open 24 at most (ulimit -Hn); nothing was sent."), std::string::npos)
        << six.Stderr();
    sim->Stop();
    EXPECT_EQ(Count(sim->Stderr(), "connected"), 1u) << "only the one-port run reached it: " << sim->Stderr();
}

} // namespace
