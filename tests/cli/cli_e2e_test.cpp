// pinwright-cli as a script runs it, against pinwright-sim over real pseudo-terminals.
#include "settings/status_file.h"
#include "tests/support/cli_fixture.h"
#include "tests/support/fake_sysfs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <nlohmann/json.hpp>
#include <thread>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kSwitchQuery = "<- 1D 28 45 02 00 04"; // a switch read reaching the printer

using CliEndToEnd = CliFixture;

TEST_F(CliEndToEnd, GetReportsIdentityAndSwitchesAndSavesAStatusFileThatShowReadsBack) {
    auto sim = Sim("p", {"--switch", "2=01000100", "--switch", "1=00010000", "--switch", "9=10101100"});
    auto get = RunCli({"--json", "-p", sim->PtyPath(), "get", "-o", Path("saved.sts")});
    ASSERT_EQ(get.exit, 0) << get.err;
    const Json j = Json::parse(get.out);
    EXPECT_EQ(j["port"], sim->PtyPath());
    EXPECT_EQ(j["firmware"], "2.10 SIM");
    EXPECT_EQ(j["maker"], "MERIDOX");
    EXPECT_EQ(j["model"], "LTX-580");
    EXPECT_EQ(j["switches"], Json({{"1", "00010000"}, {"2", "01000100"}, {"9", "10101100"}}));
    // Pins 8 and 6 of switch 9 give index 5: no listed baud rate.
    EXPECT_EQ(j["settings"], Json::parse(R"({"baud-rate": null, "data-bits": 8, "parity": "even",
        "flow-control": "dtr-dsr", "auto-cutter": "full", "auto-line-feed": true, "code-page": "PC852"})"));
    EXPECT_EQ(get.err, "");

    auto show = RunCli({"--json", "show", Path("saved.sts")});
    ASSERT_EQ(show.exit, 0) << show.err;
    const Json s = Json::parse(show.out);
    EXPECT_EQ(s["settings"], j["settings"]) << "apply of the file writes back what get read";
    EXPECT_EQ(s["switches"]["9"], "10101102");
}

TEST_F(CliEndToEnd, SetWithABaudChangeReadsBackAtTheNewLineSettings) {
    auto sim = Sim("p");
    const std::string trace = Path("trace");
    auto set = RunCli({"--json", "--trace", trace, "-p", sim->PtyPath(), "set", "baud-rate=19200",
                       "parity=even", "code-page=pc857"});
    ASSERT_EQ(set.exit, 0) << set.err;
    const Json j = Json::parse(set.out);
    EXPECT_EQ(j["settings"]["baud-rate"], 19200);
    EXPECT_EQ(j["settings"]["parity"], "even");
    EXPECT_EQ(j["settings"]["code-page"], "PC857");
    EXPECT_EQ(j["settings"]["auto-cutter"], "full") << "untouched settings stay";
    EXPECT_NE(Switches("p").find("switch 9 = 00101100"), std::string::npos) << Switches("p");
    EXPECT_NE(Switches("p").find("switch 2 = 11010100"), std::string::npos) << Switches("p");

    // The read-back runs on the same port set to the new line once what was written has left, after the
    // printer's restart, which it is asked about (DLE EOT 1) at the new line.
    const std::string t = ReadWhole(trace);
    const auto reopened = t.find("-- line 19200 8E1");
    ASSERT_NE(reopened, std::string::npos) << t;
    EXPECT_EQ(t.rfind("-- close", reopened), std::string::npos) << "the port is kept, and its lock";
    EXPECT_NE(t.find(" -> 10 04 01", reopened), std::string::npos) << "asked whether it is back";
    EXPECT_NE(t.find(" -> 1D 28 45 02 00 04 02", reopened), std::string::npos) << "switch 2 read again";
    EXPECT_NE(t.find(sim->PtyPath() + " -> 1B 40"), std::string::npos) << "lines name the port";
    EXPECT_NE(set.err.find("reading back at 19200 8E1"), std::string::npos) << set.err;
    ExpectSettingModeLeft(sim->Stderr());
}

TEST_F(CliEndToEnd, ApplyWritesTheStatusFileAndAPrinterThatKeepsItsSettingsGivesExit4) {
    const std::string file = DefaultsFile();
    auto good = Sim("good");
    // A printer that keeps its own settings, every one of them other than the file's: 57600 baud, 7 bits,
    // even parity, Xon/Xoff, full cut, PC850, line feed on.
    auto stubborn =
        Sim("stubborn", {"--fault", "ignore-writes", "--switch", "9=01111110", "--switch", "1=00010000"});
    auto missing = Path("no-such-device");
    const auto t0 = Clock::now();
    // The worst port first: the exit status is the highest, not the last port's.
    auto r =
        RunCli({"--json", "-p", stubborn->PtyPath(), "-p", missing, "-p", good->PtyPath(), "apply", file});
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_EQ(r.exit, 4) << "the highest of 4, 2 and 0\n" << r.err;
    const Json j = Json::parse(r.out);
    ASSERT_TRUE(j.is_array());
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[2]["port"], good->PtyPath()) << "results in the order the ports were given";
    EXPECT_FALSE(j[2].contains("error"));
    EXPECT_EQ(j[2]["settings"]["code-page"], "PC437");
    EXPECT_EQ(j[2]["settings"]["auto-cutter"], "partial");
    EXPECT_NE(Switches("good").find("switch 2 = 00000000"), std::string::npos) << Switches("good");

    EXPECT_EQ(j[1]["port"], missing);
    EXPECT_EQ(j[1]["exit"], 2);
    EXPECT_NE(j[1]["error"].get<std::string>().find("No device at " + missing), std::string::npos) << j[1];

    EXPECT_EQ(j[0]["exit"], 4);
    EXPECT_EQ(j[0]["not-taken"], Json({"baud-rate", "data-bits", "parity", "flow-control", "auto-cutter",
                                       "auto-line-feed", "code-page"}))
        << "switches 9, 2 and 1 are each compared";
    EXPECT_EQ(j[0]["settings"]["code-page"], "PC850") << "what the printer holds after all";
    EXPECT_EQ(j[0]["settings"]["baud-rate"], 57600);
    EXPECT_NE(r.err.find(stubborn->PtyPath() + ": the printer did not take baud-rate, data-bits, parity, "
                                               "flow-control, auto-cutter, auto-line-feed, code-page"),
              std::string::npos)
        << r.err;
    ExpectSettingModeLeft(good->Stderr());
    ExpectSettingModeLeft(stubborn->Stderr());
    // One apply takes about 5.3 s of the printer's fixed waits; two in a row would take over 10.6.
    EXPECT_LT(wall, 9.5) << "the ports work at the same time";
}

TEST_F(CliEndToEnd, CtrlCDuringApplyEndsUserSettingModeAndReadsNothingMore) {
    const std::string file = DefaultsFile();
    // From the command that enters user setting mode (the 16th) on, the printer answers 3 s late: Ctrl-C
    // comes while the run waits in the mode for its notice.
    auto sim = Sim("p", {"--fault", "delay=3000", "--fault", "from=15"});
    CliProcess cli({"-p", sim->PtyPath(), "apply", file});
    bool entered = false;
    for (int i = 0; i < 1000 && !entered; ++i) {
        entered = sim->Stderr().find("-- user setting mode") != std::string::npos;
        if (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(entered) << "waited 10 s for the printer to enter user setting mode\n" << sim->Stderr();
    const auto t0 = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(10000), 130) << cli.Stderr();
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 2.0) << "waits are cut short";
    EXPECT_NE(cli.Stderr().find(sim->PtyPath() + ": interrupted"), std::string::npos) << cli.Stderr();
    // The end of the mode left the program before it ended; the printer may log it a moment later.
    std::string log = sim->Stderr();
    for (int i = 0; i < 500 && log.find("-- settings applied; printer reset") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        log = sim->Stderr();
    }
    ExpectSettingModeLeft(log);
    EXPECT_EQ(log.find(kSwitchQuery, log.find("-- user setting mode")), std::string::npos)
        << "no read-back starts after Ctrl-C\n"
        << log;
}

TEST_F(CliEndToEnd, APrinterThatFallsSilentWhileWritingGivesExit3AndLeavesSettingMode) {
    // Silent from the sixteenth command on (after the pre-check, the read and the pre-check again): user
    // setting mode is entered without its notice.
    auto sim = Sim("p", {"--fault", "silent", "--fault", "from=15"});
    auto r = RunCli({"--json", "-p", sim->PtyPath(), "apply", DefaultsFile()});
    EXPECT_EQ(r.exit, 3) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["exit"], 3);
    EXPECT_EQ(j["error"],
              "The printer did not answer. Nothing was changed. Check the cable and the printer, then "
              "try again.");
    EXPECT_FALSE(j.contains("settings"));
    ExpectSettingModeLeft(sim->Stderr());
    EXPECT_NE(Switches("p").find("switch 2 = 00010100"), std::string::npos) << "nothing changed";
}

// The text output's block of the port at `index` (blocks are separated by an empty line).
std::string Block(const std::string& out, std::size_t index) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < index; ++i) at = out.find("\n\n", at) + 2;
    return out.substr(at, out.find("\n\n", at) - at);
}

// Each failure says how far the write got: before it, that nothing was changed; after a write that took
// (the 22nd command), that the settings were written and the read-back failed, never that nothing was.
TEST_F(CliEndToEnd, AReadBackThatFailsAfterTheWriteSaysTheSettingsWereWritten) {
    auto cut = Sim("cut", {"--fault", "short", "--fault", "from=23"});
    auto garbled = Sim("garbled", {"--fault", "garbage", "--fault", "from=23"});
    auto early = Sim("early", {"--fault", "short", "--fault", "from=7"}); // the first switch read fails
    auto json = RunCli({"--json", "-p", cut->PtyPath(), "-p", garbled->PtyPath(), "-p", early->PtyPath(),
                        "set", "auto-cutter=partial"});
    EXPECT_EQ(json.exit, 3) << json.err;
    const Json j = Json::parse(json.out);
    ASSERT_EQ(j.size(), 3u) << json.out;
    const std::string written = "the settings were written; reading them back failed: ";
    EXPECT_EQ(j[0]["error"], written + "the printer did not answer");
    EXPECT_EQ(j[1]["error"], written + "the printer sent an unreadable memory switch reply");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(j[i]["exit"], 3);
        EXPECT_EQ(j[i]["written"], "yes");
        EXPECT_EQ(j[i]["changed"], true);
    }
    EXPECT_EQ(j[2]["written"], "no");
    EXPECT_EQ(j[2]["error"],
              "The printer did not answer. Nothing was changed. Check the cable and the printer, "
              "then try again.");
    EXPECT_EQ(Count(json.err, "Nothing was changed"), 1u) << "the early printer's only\n" << json.err;
    EXPECT_NE(json.err.find(cut->PtyPath() + ": " + written + "the printer did not answer"),
              std::string::npos)
        << json.err;
    for (const char* name : {"cut", "garbled"})
        EXPECT_NE(Switches(name).find("switch 2 = 00010000"), std::string::npos) << "the write took\n"
                                                                                 << Switches(name);
    EXPECT_EQ(early->Stderr().find("-- user setting mode"), std::string::npos) << early->Stderr();
    ExpectSettingModeLeft(cut->Stderr());

    // As text: whether anything was written, beside the failure.
    auto cut2 = Sim("cut2", {"--fault", "short", "--fault", "from=23"});
    auto early2 = Sim("early2", {"--fault", "short", "--fault", "from=7"});
    auto text = RunCli({"-p", cut2->PtyPath(), "-p", early2->PtyPath(), "set", "auto-cutter=partial"});
    EXPECT_EQ(text.exit, 3);
    EXPECT_EQ(Block(text.out, 0), "port: " + cut2->PtyPath() + "\nline: 115200 8N1\nerror: " + written +
                                      "the printer did not answer\nexit: 3\nwritten: yes");
    EXPECT_NE(Block(text.out, 1).find("\nwritten: no"), std::string::npos) << text.out;
}

// A code page the tables do not list (value 10) is no code page of theirs: get says so, and a set of
// another setting keeps it as the printer has it.
TEST_F(CliEndToEnd, SetKeepsACodePageTheTablesDoNotListAndGetNamesNone) {
    auto sim = Sim("p", {"--switch", "2=01010100"});
    auto get = RunCli({"--json", "-p", sim->PtyPath(), "get"});
    ASSERT_EQ(get.exit, 0) << get.err;
    const Json g = Json::parse(get.out);
    EXPECT_TRUE(g["settings"]["code-page"].is_null()) << g;
    EXPECT_EQ(g["switches"]["2"], "01010100");
    auto text = RunCli({"-p", sim->PtyPath(), "get"});
    EXPECT_NE(text.out.find("\ncode-page: unlisted\n"), std::string::npos) << text.out;

    auto set = RunCli({"--json", "-p", sim->PtyPath(), "set", "auto-cutter=partial"});
    ASSERT_EQ(set.exit, 0) << set.err;
    const Json j = Json::parse(set.out);
    EXPECT_EQ(j["changes"], Json({"auto-cutter"}));
    EXPECT_TRUE(j["before"]["code-page"].is_null());
    EXPECT_TRUE(j["after"]["code-page"].is_null());
    EXPECT_EQ(j["switches"]["2"], "01010000");
    EXPECT_NE(Switches("p").find("switch 2 = 01010000"), std::string::npos) << Switches("p");
    auto again = RunCli({"--json", "-p", sim->PtyPath(), "set", "auto-cutter=partial"});
    EXPECT_EQ(Json::parse(again.out)["changed"], false) << "nothing left to write";
}

TEST_F(CliEndToEnd, BadInputIsRefusedBeforeAnythingIsSent) {
    auto sim = Sim("p");
    const std::string port = sim->PtyPath();
    std::ofstream(Path("short.sts")) << "not 88 bytes";
    fs::copy_file(DefaultsFile(), Path("defaults.STS"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-p", port, "-p", port, "get"}, "port " + port + " given twice"},
        {{"-p", port, "set", "speed=9600"}, "unknown setting 'speed'"},
        {{"-p", port, "set", "baud-rate=12345"}, "'12345' is no value of baud-rate"},
        {{"-p", port, "apply", Path("short.sts")}, "short.sts: Wrong format files loaded."},
        {{"-p", port, "apply", Path("defaults.STS")}, "defaults.STS: Wrong format files loaded."},
        {{"-p", port, "apply", Path("absent.sts")}, "Cannot open " + Path("absent.sts")},
        {{"-p", "COM9", "check"}, "unknown port 'COM9'"},
        {{"show", Path("short.sts")}, "Wrong format files loaded."},
    };
    for (const Case& c : cases) {
        auto r = RunCli(c.args, 10000);
        EXPECT_EQ(r.exit, 1) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << c.args.back();
    }
    EXPECT_EQ(sim->Stderr().find("<-"), std::string::npos) << "the printer got nothing";
}

TEST_F(CliEndToEnd, CheckSelfTestAndAMissingDevice) {
    auto sim = Sim("p");
    auto check = RunCli({"-p", sim->PtyPath(), "check"});
    EXPECT_EQ(check.exit, 0) << check.err;
    EXPECT_EQ(check.out, "port: " + sim->PtyPath() + "\nline: 9600 8N1\nresult: Printer is connected.\n");
    auto test = RunCli({"--json", "-p", sim->PtyPath(), "self-test", "2"});
    EXPECT_EQ(test.exit, 0) << test.err;
    EXPECT_EQ(Json::parse(test.out)["self-test"], "sent");
    bool printed = false;
    for (int i = 0; i < 200 && !printed; ++i) {
        printed = sim->Stderr().find("self test: rolling pattern print") != std::string::npos;
        if (!printed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(printed) << "waited 2 s for the printer to log the self test\n" << sim->Stderr();

    auto missing = RunCli({"-p", "/dev/pinwright-no-such-tty", "get"});
    EXPECT_EQ(missing.exit, 2);
    EXPECT_NE(
        missing.err.find("/dev/pinwright-no-such-tty: Can't open port and Printer is disconnected (No device "
                         "at /dev/pinwright-no-such-tty"),
        std::string::npos)
        << missing.err;
}

TEST_F(CliEndToEnd, APrinterOfAnotherMakeIsWarnedAboutAndTheCommandGoesOn) {
    auto sim = Sim("p", {"--maker", "ACME"});
    auto r = RunCli({"--json", "-p", sim->PtyPath(), "get"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(Json::parse(r.out)["maker"], "ACME");
    const std::string p = sim->PtyPath() + ": ";
    EXPECT_EQ(r.err, p + "ACME\n" + p + "This printer don't match our company name.\n" + p +
                         "Don't use this program for other company product.\n");
}

TEST_F(CliEndToEnd, UsbPortFoundByDiscoveryOrGivenAsItsDeviceFile) {
    const std::string usbDir = Path("usb");
    auto sim = Sim("p", {"--usb-dir", usbDir});
    const std::map<std::string, std::string> env = {{"PINWRIGHT_USB_DIR", usbDir}};
    auto check = RunCli({"--json", "-p", "usb", "check"}, 60000, env);
    EXPECT_EQ(check.exit, 0) << check.err;
    EXPECT_EQ(Json::parse(check.out)["connected"], true) << check.out;
    EXPECT_NE(check.err.find("completeDeviceName"), std::string::npos) << "discovery lines go to stderr";

    auto get = RunCli({"--json", "-p", usbDir + "/lp0", "get"}, 60000, env);
    ASSERT_EQ(get.exit, 0) << get.err;
    EXPECT_EQ(Json::parse(get.out)["switches"]["2"], "00010100");
    EXPECT_EQ(get.err.find("completeDeviceName"), std::string::npos) << "a device file needs no search";
}

// What `ports` says of this user's access to a device file of this machine's own /dev (present in the
// fake sysfs): nothing when there is no such file here, else whatever it judges (a real serial port).
Json HostAccess(const std::string& device, const Json& given) {
    if (!fs::exists(device)) return nullptr;
    EXPECT_TRUE(given.is_object() && given["usable"].is_boolean()) << device << ": " << given;
    return given;
}

TEST(CliPorts, EachDialogPortWithTheDeviceItStandsForAsATableAndAsJson) {
    // A mainboard UART beside a phantom 8250 node, an FTDI adapter, a parallel port, a USB printer, and
    // COM3 set to a device that is not there.
    FakeSysfs sys;
    sys.AddUart("ttyS0", 4);
    sys.AddUart("ttyS1", 0);
    sys.AddUsb("tty", "ttyUSB0", "FTDI", "FT232R USB UART", "0403", "6001");
    sys.AddParallel("lp0");
    sys.AddUsb("usbmisc", "lp0", "MERIDOX", "LTX-580 Receipt", "0519", "0001");
    const std::string usbPrinter = (sys.root / "dev" / "usb" / "lp0").string();
    const std::map<std::string, std::string> env = {{"PINWRIGHT_COM3", "/dev/pinwright-unplugged"}};

    auto json = RunCli({"ports", "--json"}, 10000, env);
    ASSERT_EQ(json.exit, 0) << json.err;
    EXPECT_EQ(json.err, "");
    const Json got = Json::parse(json.out);
    ASSERT_EQ(got.size(), 12u) << json.out;
    Json expected = Json::array();
    auto port = [&](const std::string& name, Json device, bool present, Json product, Json usbId,
                    Json access) {
        expected.push_back({{"port", name},
                            {"device", device},
                            {"present", present},
                            {"product", product},
                            {"usb-id", usbId},
                            {"access", access}});
    };
    // The USB printer's file is the test's own: this user may open it.
    const Json usable = {{"usable", true}, {"group", nullptr}, {"command", nullptr}};
    port("COM1", "/dev/ttyS0", true, nullptr, nullptr, HostAccess("/dev/ttyS0", got[0]["access"]));
    port("COM2", "/dev/ttyUSB0", true, "FTDI FT232R USB UART", "0403:6001",
         HostAccess("/dev/ttyUSB0", got[1]["access"]));
    port("COM3", "/dev/pinwright-unplugged", false, nullptr, nullptr, nullptr);
    for (const char* name : {"COM4", "COM5", "COM6", "COM7"})
        port(name, nullptr, false, nullptr, nullptr, nullptr);
    port("LPT1", "/dev/lp0", true, nullptr, nullptr, HostAccess("/dev/lp0", got[7]["access"]));
    for (int n = 2; n <= 4; ++n)
        port("LPT" + std::to_string(n), "/dev/lp" + std::to_string(n - 1), false, nullptr, nullptr, nullptr);
    port("USB", usbPrinter, true, "MERIDOX LTX-580 Receipt", "0519:0001", usable);
    EXPECT_EQ(got, expected);

    auto table = RunCli({"ports"}, 10000, env);
    ASSERT_EQ(table.exit, 0) << table.err;
    // Columns two blanks apart, as wide as their widest entry (here the USB printer's path).
    auto cell = [](std::string text, std::size_t width) {
        return text + std::string(width + 2 - text.size(), ' ');
    };
    auto row = [&](const std::string& name, const std::string& device, const char* present,
                   const std::string& product, const std::string& usbId, const std::string& access) {
        std::string line = cell(name, 4) + cell(device, usbPrinter.size()) + cell(present, 7) +
                           cell(product, 23) + cell(usbId, 9) + access;
        return line.erase(line.find_last_not_of(' ') + 1) + "\n";
    };
    auto hostAccess = [](const Json& access) {
        return access.is_null() ? "-" : access["usable"] == true ? "yes" : "no";
    };
    const std::string com1 = hostAccess(expected[0]["access"]), com2 = hostAccess(expected[1]["access"]),
                      lpt1 = hostAccess(expected[7]["access"]);
    std::string want = row("PORT", "DEVICE", "PRESENT", "PRODUCT", "USB ID", "ACCESS");
    want += row("COM1", "/dev/ttyS0", "yes", "", "", com1);
    want += row("COM2", "/dev/ttyUSB0", "yes", "FTDI FT232R USB UART", "0403:6001", com2);
    want += row("COM3", "/dev/pinwright-unplugged", "no", "", "", "-");
    for (const char* name : {"COM4", "COM5", "COM6", "COM7"}) want += row(name, "-", "no", "", "", "-");
    want += row("LPT1", "/dev/lp0", "yes", "", "", lpt1);
    for (int n = 2; n <= 4; ++n)
        want += row("LPT" + std::to_string(n), "/dev/lp" + std::to_string(n - 1), "no", "", "", "-");
    want += row("USB", usbPrinter, "yes", "MERIDOX LTX-580 Receipt", "0519:0001", "yes");
    // A machine whose real /dev/ttyS0 this user may not open says more in that cell: compare up to it.
    if (com1 == "no" || com2 == "no" || lpt1 == "no") {
        EXPECT_EQ(table.out.substr(0, table.out.find('\n')), want.substr(0, want.find('\n')));
    } else {
        EXPECT_EQ(table.out, want);
    }

    // A device pulled out is seen at the next look; a port given is refused, nothing is opened.
    sys.Unplug("tty", "ttyUSB0");
    auto after = RunCli({"ports", "--json"}, 10000, env);
    EXPECT_EQ(Json::parse(after.out)[1]["device"], nullptr) << after.out;
    auto refused = RunCli({"-p", "COM1", "ports"}, 10000);
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find("ports lists every port of the dialogs: it takes no --port"),
              std::string::npos)
        << refused.err;
}

// Device files as a distribution makes them, judged for a user who is in none of their groups: the
// group that may open one is named with the command that adds the user; a device no group may open, or
// only one whose group may just read, is "no" without advice. Root makes the files and runs the program
// as nobody; an ordinary user (tests/as_user.sh) is given a root:dialout 0660 file to judge.
TEST(CliPorts, DevicesThisUserMayNotOpenNameTheGroupThatMayAndTheCommandThatAddsThem) {
    FakeSysfs sys; // no ports of its own: only the files below are present
    const fs::path dir = fs::temp_directory_path() / ("pw-cli-access-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    const bool root = ::geteuid() == 0;
    std::string dialoutDevice;
    std::map<std::string, std::string> env;
    const ::group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr) << "Debian has group dialout";
    if (root) {
        auto make = [&](const std::string& name, gid_t gid, fs::perms mode) {
            const std::string path = (dir / name).string();
            std::ofstream(path).put('x');
            EXPECT_EQ(::chown(path.c_str(), 0, gid), 0);
            fs::permissions(path, mode);
            return path;
        };
        using P = fs::perms;
        dialoutDevice = make("ttyS-dialout", dialout->gr_gid,
                             P::owner_read | P::owner_write | P::group_read | P::group_write);
        env["PINWRIGHT_COM2"] = make("ttyS-root", 0, P::owner_read | P::owner_write);
        env["PINWRIGHT_COM3"] =
            make("ttyS-dialout-reads", dialout->gr_gid, P::owner_read | P::owner_write | P::group_read);
        env["PINWRIGHT_COM4"] = make("ttyS-everyone", 0,
                                     P::owner_read | P::owner_write | P::group_read | P::group_write |
                                         P::others_read | P::others_write);
    } else if (const char* given = std::getenv("PINWRIGHT_TEST_DIALOUT_DEVICE")) {
        dialoutDevice = given;
    } else {
        GTEST_SKIP() << "needs root, or a root:dialout 0660 file in PINWRIGHT_TEST_DIALOUT_DEVICE";
    }
    env["PINWRIGHT_COM1"] = dialoutDevice;
    auto run = [&](std::vector<std::string> args) {
        return root ? RunCliAs("nobody", args, 10000, env) : RunCli(args, 10000, env);
    };

    auto json = run({"--json", "ports"});
    ASSERT_EQ(json.exit, 0) << json.err;
    const Json got = Json::parse(json.out);
    const Json denied = {
        {"usable", false}, {"group", "dialout"}, {"command", "sudo usermod -aG dialout \"$USER\""}};
    EXPECT_EQ(got[0]["access"], denied) << json.out;
    EXPECT_EQ(got[0]["present"], true);
    auto table = run({"ports"});
    ASSERT_EQ(table.exit, 0) << table.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = table.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(table.out.substr(at, end - at));
    ASSERT_EQ(lines.size(), 13u) << table.out;
    const std::size_t accessColumn = lines[0].find("ACCESS");
    ASSERT_NE(accessColumn, std::string::npos) << table.out;
    EXPECT_EQ(lines[1].substr(0, 6 + dialoutDevice.size()), "COM1  " + dialoutDevice) << table.out;
    EXPECT_EQ(lines[1].substr(accessColumn), "no, group dialout: sudo usermod -aG dialout \"$USER\"")
        << table.out;
    if (!root) return;

    const Json noGroup = {{"usable", false}, {"group", nullptr}, {"command", nullptr}};
    const Json usable = {{"usable", true}, {"group", nullptr}, {"command", nullptr}};
    EXPECT_EQ(got[1]["access"], noGroup) << "root's own group is never advised";
    EXPECT_EQ(got[2]["access"], noGroup) << "a group that may only read does not help";
    EXPECT_EQ(got[3]["access"], usable);
    EXPECT_EQ(lines[2].substr(accessColumn), "no");
    EXPECT_EQ(lines[3].substr(accessColumn), "no");
    EXPECT_EQ(lines[4].substr(accessColumn), "yes");
    for (std::size_t i = 4; i < 12; ++i)
        EXPECT_EQ(got[i]["access"], nullptr) << "absent ports are not judged";

    // Root may open them all.
    auto asRoot = RunCli({"--json", "ports"}, 10000, env);
    const Json all = Json::parse(asRoot.out);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(all[i]["access"], usable) << asRoot.out;
}

} // namespace
