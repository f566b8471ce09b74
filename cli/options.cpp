#include "cli/options.h"

#include "cli/discover.h"
#include "cli/outside_text.h"
#include "cli/platform.h"
#include "link/letter_case.h"
#include "link/network_address.h"
#include "pinwright_version.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace pw::cli {

namespace {

const char* kDescription =
    "Reads, changes, applies and verifies the memory switches of LTX-58x receipt printers, on several "
    "ports at once.\nResults go to standard output, messages to standard error. Exit status: 0 done, "
    "1 usage or bad file (doctor: something stands in the way), 2 port cannot be opened, 3 printer did not "
    "answer or sent an unreadable reply, "
    "4 a setting did not take, 5 status: a printer needs attention (offline, cover open, paper out, an "
    "error), 128 + signal stopped (130 Ctrl-C, 129 hang-up, 141 output gone, 143 "
    "terminated); several ports: the highest.";

// The port as the rest of the program names it, or empty when it names no port.
std::string PortName(const std::string& given) {
    if (given.find("://") != std::string::npos) return {}; // no other kind of address than tcp://
    if (IsDevicePath(given)) return given;
    const std::string up = AsciiUpper(given);
    if (up == "USB") return up;
    if (up.size() == 4 && up.compare(0, 3, "COM") == 0 && up[3] >= '1' && up[3] <= '7') return up;
    if (up.size() == 4 && up.compare(0, 3, "LPT") == 0 && up[3] >= '1' && up[3] <= '4') return up;
    return {};
}

// `text` may carry what the user typed: shown as the terminal may show it.
ParseOutcome UsageError(const std::string& text) {
    return {1, {}, "pinwright-cli: " + ForTerminal(text) + "\nRun with --help for more information.\n"};
}

} // namespace

ParseOutcome ParseArguments(const std::vector<std::string>& args, Options& o) {
    CLI::App app{kDescription, "pinwright-cli"};
    app.set_version_flag("--version", std::string("pinwright-cli ") + PINWRIGHT_VERSION);
    app.require_subcommand(1);
    app.fallthrough();

    std::vector<std::string> ports;
    app.add_option("-p,--port", ports,
                   std::string(PortHelp()) + ". Repeatable: the command runs on every port at once")
        ->type_name("PORT")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::string baud = "9600";
    app.add_option("--baud", baud,
                   "line speed to talk at (default 9600), or auto: find the line a serial printer answers "
                   "at (each rate with 8 and 7 data bits, no, even and odd parity) and talk there")
        ->check(CLI::IsMember({"auto", "9600", "19200", "38400", "57600", "115200"}));
    app.add_option("--data-bits", o.line.dataBits, "7 or 8 (default 8)")->check(CLI::IsMember({7, 8}));
    std::string parity = "none", stopBits = "1";
    app.add_option("--parity", parity, "none, odd or even (default none)")
        ->check(CLI::IsMember({"none", "odd", "even"}));
    app.add_option("--stop-bits", stopBits, "1, 1.5 or 2 (default 1)")
        ->check(CLI::IsMember({"1", "1.5", "2"}));
    app.add_flag("--json", o.json, "one JSON object per port, in a JSON array when several");
    app.add_flag("--check", o.check,
                 "set, apply: read the printer and say what would change; never enter user setting mode");
    app.add_option("--backup", o.backup,
                   "set, apply: before writing, save the printer's settings as read as a status file in DIR "
                   "(made when missing), named for the port (a readable part and a hash of its whole name) "
                   "and the UTC "
                   "time; never written over an existing file nor through a link")
        ->type_name("DIR");
    app.add_option(
           "--timeout", o.timeout,
           "end the run after SECONDS: every printer still at work is stopped as on Ctrl-C (taken out "
           "of user setting mode first) and ends with exit status 3")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    app.add_option("--trace", o.trace, "write every byte sent and received to FILE, with time and direction")
        ->type_name("FILE");

    auto* check = app.add_subcommand("check", "the connection check of the communication dialog");
    auto* selfTest = app.add_subcommand("self-test", "print the printer's test page 1 or 2");
    selfTest->add_option("PAGE", o.selfTest, "1 or 2")->required()->check(CLI::IsMember({1, 2}));
    auto* get = app.add_subcommand("get", "identification and switches 2, 9, 1, as Get Status");
    get->add_option("-o,--output", o.output, "also save the settings as a status file")
        ->type_name("FILE.sts");
    auto* set = app.add_subcommand(
        "set", "read the switches, change the named settings, write them as Set Status, read back");
    std::vector<std::string> assignments;
    set->add_option("KEY=VALUE", assignments,
                    "baud-rate 9600|19200|38400|57600|115200, data-bits 7|8, parity none|odd|even, "
                    "flow-control dtr-dsr|xon-xoff, auto-cutter partial|full, auto-line-feed on|off, "
                    "code-page PC437|Katakana|PC850|PC860|PC863|PC865|WPC1252|PC866|PC852|PC858|PC864|"
                    "Thai42|WPC1253|WPC1251|PC737|Thai16|WPC1255|PC855|PC857")
        ->required();
    const char* forceHelp = "write even when the printer already holds every setting";
    set->add_flag("--force", o.force, forceHelp);
    auto* apply =
        app.add_subcommand("apply", "write a status file's settings (Load Status, Set Status), read back");
    apply->add_option("FILE.sts", o.file, "the status file")->required();
    apply->add_flag("--force", o.force, forceHelp);
    auto* show = app.add_subcommand("show", "print a status file's settings; no printer needed");
    show->add_option("FILE.sts", o.file, "the status file")->required();
    auto* status = app.add_subcommand(
        "status", "the real-time status of each printer (DLE EOT 1 to 4): online, cover, paper, feed "
                  "button, drawer, errors; exit status 5 when one needs attention");
    status
        ->add_option(
            "--metrics", o.metrics,
            "also write the results for node_exporter's textfile collector (Prometheus text format), "
            "atomically: written beside FILE, then renamed over it, with the mode (and, as root, the owner) "
            "of the "
            "file it replaces; a first file is 0644")
        ->type_name("FILE.prom");
    auto* portList =
        app.add_subcommand("ports", "list the ports COM1..COM7, LPT1..LPT4, USB and the device each "
                                    "stands for on this machine; no printer needed");
    auto* discover = AddDiscoverCommand(app, o.discover);
    auto* doctor = app.add_subcommand(
        "doctor",
        "say for each port (every port of the dialogs without -p) what stands between you and the printer: "
        "the "
        "device, who may open it, which process holds it, ModemManager, brltty, the USB driver; for a "
        "network "
        "printer the name, the connection and what answers. Prints the fixes, never runs them; exit status 0 "
        "when nothing stands in the way, 1 when something does");
    doctor->add_flag(
        "--probe", o.doctorProbe,
        "also ask the printers on serial, USB and parallel ports: the line search of --baud auto "
        "(status queries only), identity and status; without it nothing is sent to them");

    std::string footer = "\nSetting keys and values of set (the same in the output):\n";
    for (const SettingKey& k : SettingKeys()) {
        std::string values;
        for (const std::string& v : k.values) values += (values.empty() ? "" : "|") + v;
        footer += "  " + std::string(k.key) + " " + values + "\n";
    }
    footer += std::string("\nExamples:\n") + UsageExamples();
    app.footer(footer);

    std::vector<const char*> argv;
    argv.push_back("pinwright-cli");
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        std::ostringstream out, err;
        const int code = app.exit(e, out, err);
        if (code == 0) return {0, out.str(), LinesForTerminal(err.str())};
        return {1, out.str(), LinesForTerminal(err.str())};
    }

    if (*check) o.command = Command::Check;
    if (*selfTest) o.command = Command::SelfTest;
    if (*get) o.command = Command::Get;
    if (*set) o.command = Command::Set;
    if (*apply) o.command = Command::Apply;
    if (*show) o.command = Command::Show;
    if (*portList) o.command = Command::Ports;
    if (*status) o.command = Command::Status;
    if (*discover) o.command = Command::Discover;
    if (*doctor) o.command = Command::Doctor;
    o.line.autoBaud = baud == "auto";
    if (!o.line.autoBaud) o.line.baud = std::stoi(baud);
    o.line.parity = parity == "odd" ? 1 : parity == "even" ? 2 : 0;
    o.line.stopBits = stopBits == "1.5" ? 1 : stopBits == "2" ? 2 : 0;

    for (const std::string& a : assignments) {
        std::string error;
        auto parsed = ParseAssignment(a, error);
        if (!parsed) return UsageError(error);
        for (const Assignment& earlier : o.changes)
            if (earlier.key == parsed->key) return UsageError(std::string(parsed->key->key) + " given twice");
        o.changes.push_back(*parsed);
    }

    if (!o.backup.empty() && o.command != Command::Set && o.command != Command::Apply)
        return UsageError("--backup keeps the settings before a write: only set and apply write");
    if (o.check && o.command == Command::Status)
        return UsageError("--check changes nothing: status only reads, so it has nothing to check");
    if (o.check && o.command == Command::SelfTest)
        return UsageError("--check changes nothing: self-test prints a page, so it has nothing to check");
    if (o.command == Command::Show) {
        if (!ports.empty()) return UsageError("show reads a file only: it takes no --port");
        return {};
    }
    if (o.command == Command::Ports) {
        if (!ports.empty()) return UsageError("ports lists every port of the dialogs: it takes no --port");
        return {};
    }
    if (o.command == Command::Discover) {
        if (!ports.empty())
            return UsageError("discover looks for printers at addresses: it takes TARGETs, not -p PORT "
                              "(the raw port to try is discover --port N)");
        const std::string error = CheckDiscover(o.discover, o.json, o.check);
        return error.empty() ? ParseOutcome{} : UsageError(error);
    }
    if (ports.empty() && o.command != Command::Doctor)
        return UsageError("no port: give one or more with --port");
    if (!o.output.empty() && ports.size() > 1)
        return UsageError("get -o saves one printer's settings: give one port");
    // A port given twice would be opened twice; for USB it would also share the discovery's one module
    // buffer (completeDeviceName) between two threads. So every port, USB too, appears once.
    std::map<std::string, std::string> seen;
    for (std::string given : ports) {
        // The scheme in any case, as COMn, LPTn and USB are taken in any case.
        if (given.size() >= 6 && AsciiLower(given.substr(0, 6)) == kNetworkPrefix)
            given.replace(0, 6, kNetworkPrefix);
        std::string name = PortName(given);
        if (IsNetworkName(given)) {
            // Named in full, port included, so that "tcp://till1" and "tcp://till1:9100" are one printer.
            NetworkAddress address;
            std::string error;
            if (!ParseNetworkAddress(given, address, error))
                return UsageError("bad network address '" + given + "': " + error);
            name = address.Name();
        }
        if (name.empty())
            return UsageError("unknown port '" + given +
                              "' (COM1..COM7, LPT1..LPT4, USB, a device file or tcp://HOST[:PORT])");
        // Host names are case-blind; addresses already have their one spelling.
        const std::string id = IsNetworkName(name) ? AsciiLower(name) : PortIdentity(name);
        if (auto it = seen.find(id); it != seen.end())
            return UsageError("port " + name + " given twice" +
                              (it->second != name ? " (as " + it->second + ")" : ""));
        seen.emplace(id, name);
        o.ports.push_back(name);
    }
    return {};
}

} // namespace pw::cli
