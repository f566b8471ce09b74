#include "cli/doctor.h"

#include "cli/platform.h"
#include "link/network_address.h"
#include "link/port_info.h"
#include "link/printer_port.h"
#include "protocol/line_finder.h"
#include "protocol/printer_probe.h"

#include <algorithm>

namespace pw::cli {

namespace {

// What an answer that is no status byte starts with when a web server took the connection: "HTTP" in
// the hex of ProbePrinter's account.
constexpr const char* kHttpHex = "48 54 54 50";

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

// Which of the connection failures the port's message is: each is said once, in ConnectProblem.
ConnectFailure FailureOf(const std::string& name, const std::string& problem, std::uint32_t limitMs) {
    for (ConnectFailure why :
         {ConnectFailure::Refused, ConnectFailure::TimedOut, ConnectFailure::Unreachable})
        if (problem == ConnectProblem(name, why, {}, limitMs)) return why;
    return ConnectFailure::Other;
}

// Identity and status of a port that answered DLE EOT 1 with a status byte.
void ReportPrinter(const PrinterProbe& probe, Diagnosis& d) {
    std::vector<std::string> known;
    for (const auto* text : {&probe.maker, &probe.model, &probe.firmware})
        if (*text && !(*text)->empty()) known.push_back(**text);
    if (known.empty())
        d.Add("identity", Severity::Warning,
              "The printer answers status queries but not GS I (maker, model, firmware): it may be offline "
              "(it holds GS I until it is back) or of another make.");
    else
        d.Add("identity", Severity::Ok, "The printer is " + Joined(known) + ".");
    if (probe.status.result != StatusRead::Ok) {
        d.Add("status", Severity::Warning,
              "Its real-time status could not be read: " + StatusReadProblem(probe.status) + ".");
        return;
    }
    const std::string attention = AttentionText(probe.status.status);
    if (attention.empty())
        d.Add("status", Severity::Ok, "Status: " + StatusSummary(probe.status.status) + ".");
    else
        d.Add("status", Severity::Warning,
              "The printer needs attention: " + attention +
                  ". Close the cover, load paper, or switch it off and on after an error.");
}

// The same host at another port, as -p takes it.
std::string AtPort(const NetworkAddress& a, int port) {
    return std::string(kNetworkPrefix) + (a.bracketed ? "[" + a.host + "]" : a.host) + ":" +
           std::to_string(port);
}

} // namespace

const char* SeverityName(Severity s) {
    switch (s) {
    case Severity::Ok:
        return "ok";
    case Severity::Info:
        return "info";
    case Severity::Warning:
        return "warning";
    case Severity::Error:
        return "error";
    }
    return "info";
}

void Diagnosis::Add(std::string check, Severity severity, std::string text, std::vector<std::string> commands,
                    std::string file, std::string fileContent) {
    findings.push_back(Finding{std::move(check), severity, std::move(text), std::move(commands),
                               std::move(file), std::move(fileContent)});
}

bool StandsInTheWay(const Diagnosis& d) {
    return std::any_of(d.findings.begin(), d.findings.end(), [](const Finding& f) {
        return f.severity == Severity::Warning || f.severity == Severity::Error;
    });
}

void CheckNetworkPort(const std::string& port, DeviceServices& services, Diagnosis& d) {
    NetworkAddress address;
    std::string error;
    if (!ParseNetworkAddress(port, address, error)) {
        d.Add("address", Severity::Error, port + " is not a network address: " + error + ".");
        return;
    }
    const std::string name = address.Name();
    d.device = name;
    std::vector<std::string> found = {address.host};
    if (!address.numeric) {
        std::string problem;
        if (!services.LookUpHost(name, kConnectLimitMs, found, problem)) {
            d.Add("name", Severity::Error, problem,
                  {"pinwright-cli doctor -p tcp://ADDRESS:" + std::to_string(address.port) +
                   "   (the IP address from the printer's network self-test page)"});
            return;
        }
        d.Add("name", Severity::Ok, address.host + " resolves to " + Joined(found) + ".");
    }

    CPrinterPort printer(services);
    printer.m_strPort = name;
    printer.m_nConnectLimitMs = kConnectLimitMs;
    if (!printer.Open()) {
        const std::string problem = services.LastOpenProblem();
        const std::string& host = address.host;
        const std::string portNumber = std::to_string(address.port);
        switch (FailureOf(name, problem, kConnectLimitMs)) {
        case ConnectFailure::Refused:
            d.Add("connect", Severity::Error,
                  name + " refused the connection: the host is there, but nothing listens on port " +
                      portNumber +
                      ". Check the address on the printer's network self-test page (most print it when "
                      "switched on with FEED held) and its raw port (9100 on most printers).",
                  address.port == kDefaultRawPort
                      ? std::vector<std::string>{}
                      : std::vector<std::string>{"pinwright-cli doctor -p " + AtPort(address, 9100)});
            break;
        case ConnectFailure::TimedOut:
            d.Add("connect", Severity::Error,
                  "No answer to the connection from " + name + " within " +
                      std::to_string(kConnectLimitMs / 1000) +
                      " s: the printer is off or on another network, or a firewall drops the connection. "
                      "Check that it answers at all, and that this machine lets the connection out:",
#ifdef _WIN32
                  {"ping -n 3 " + host, "powershell Test-NetConnection " + host + " -Port " + portNumber}
#else
                  {"ping -c 3 " + host, "sudo nft list ruleset | grep -n " + portNumber}
#endif
            );
            break;
        case ConnectFailure::Unreachable:
            d.Add("connect", Severity::Error,
                  problem + " Check this machine's address and route to the printer's network:",
#ifdef _WIN32
                  {"ipconfig", "route print"}
#else
                  {"ip address", "ip route get " + host}
#endif
            );
            break;
        default:
            d.Add("connect", Severity::Error, problem.empty() ? "The connection failed." : problem);
            break;
        }
        return;
    }
    d.Add("connect", Severity::Ok, name + " took the connection.");
    const std::uint32_t asked = services.GetTickCount();
    const PrinterProbe probe = ProbePrinter(printer);
    const std::uint32_t took = services.GetTickCount() - asked;
    printer.Close();
    if (probe.printer) {
        d.Add("answer", Severity::Ok, "It answers DLE EOT 1 with a status byte: an ESC/POS printer.");
        ReportPrinter(probe, d);
        return;
    }
    if (probe.notPrinter.find(kHttpHex) != std::string::npos)
        d.Add("answer", Severity::Error,
              name + " is a web server (it answered the status query with HTTP), not the printer's raw port. "
                     "The printer's configuration page may be there; its ESC/POS port is another one, 9100 "
                     "on most printers.",
              {"pinwright-cli doctor -p " + AtPort(address, 9100)});
    else if (const bool silent = probe.notPrinter.rfind("no answer", 0) == 0, closed = probe.unsent;
             !silent && !closed) {
        d.Add("answer", Severity::Error,
              name + " answered, but not as an ESC/POS printer: " + probe.notPrinter +
                  ". Check the port: the printer's raw port is 9100 on most printers.");
    } else if (const std::vector<std::string> clients = LocalClientsOf(found, address.port);
               !clients.empty()) {
        d.Add("answer", Severity::Error,
              "The printer is busy: " + Joined(clients) + " on this machine holds a connection to " + name +
                  ", the printer's one printing connection, and this one waits behind it. Close that "
                  "program's connection (or end it), then try again.");
    } else if (closed || took < kProbeStatusMs * 3 / 4) {
        // A closed connection ends the read at once; silence takes the whole wait. The margin is for a
        // loaded machine.
        d.Add("answer", Severity::Error,
              name + " took the connection and closed it at once, without a word: the printer is busy "
                     "with another client (a till or print server holds its one printing connection). "
                     "Close the other program's connection, or send through the till's own print queue.");
    } else {
        d.Add("answer", Severity::Error,
              name + " took the connection but said nothing within " + std::to_string(kProbeStatusMs) +
                  " ms to a status query (DLE EOT 1), which a printer answers at once. Either another "
                  "machine (a till that keeps its connection open) holds the printer's one printing "
                  "connection and this one waits behind it, or this is not a printer's raw port. Close the "
                  "till's program, or check the port (9100 on most printers).");
    }
}

void ProbeLocalPort(const std::string& port, DeviceServices& services, Diagnosis& d) {
    CPrinterPort printer(services);
    printer.m_bFramedReplies = true;
    // The line search sets the line; it opens at 9600 8N1.
    printer.m_nBaudRate = 9600;
    printer.m_nByteSize = 8;
    int opened = 0;
    if (IsDevicePath(port)) {
        opened = printer.OpenDeviceFile(port, DeviceFileKind(port));
    } else {
        printer.m_strPort = port;
        opened = printer.Open();
    }
    if (!opened) {
        const std::string problem = services.LastOpenProblem();
        d.Add("open", Severity::Error,
              "The port could not be opened" + (problem.empty() ? std::string(".") : ": " + problem + "."));
        return;
    }
    if (printer.m_nKind == kSerial) {
        // DLE EOT only: no ESC @ after the search either.
        const LineSearch s = FindLine(printer, LineCandidates(), {}, false);
        if (s.lineDown) {
            d.Add("line", Severity::Error,
                  "The line takes no bytes: the printer is off, its cable is out, or it holds the line "
                  "(DTR/DSR flow control with a cable that does not carry DSR).");
            printer.Close();
            return;
        }
        if (!s.found) {
            // The search tries again, more slowly, only where it heard something that was no status byte.
            const bool heard = s.tried.size() > LineCandidates().size();
            d.Add("line", Severity::Error,
                  "The printer answered at none of the " + std::to_string(LineCandidates().size()) +
                      " line settings tried (9600 to 115200 baud, 7 and 8 data bits, no, even and odd "
                      "parity): " +
                      (heard ? "something answered the status queries, but never with a status byte: a "
                               "device that is no ESC/POS printer, or a printer at a line the search does "
                               "not try (1200 to 4800 baud). "
                             : "nothing answered a status query. ") +
                      "Check that it is on, the cable (a null-modem cable for most printers), and that this "
                      "is the port it is on.");
            printer.Close();
            return;
        }
        d.Add("line", Severity::Ok,
              "The printer answers at " + SerialLineText(s.line) + ": give --baud " +
                  std::to_string(s.line.baud) + (s.line.dataBits == 7 ? " --data-bits 7" : "") +
                  (s.line.parity == 1   ? " --parity odd"
                   : s.line.parity == 2 ? " --parity even"
                                        : "") +
                  " (or --baud auto) to pinwright-cli.");
    }
    const PrinterProbe probe = ProbePrinter(printer);
    printer.Close();
    if (!probe.printer) {
        d.Add("answer", Severity::Error,
              "No ESC/POS printer answered: " + probe.notPrinter + ". Check that it is on and online.");
        return;
    }
    ReportPrinter(probe, d);
}

std::string RenderDoctorJson(const std::vector<Diagnosis>& all) {
    Json out = Json::array();
    for (const Diagnosis& d : all) {
        Json findings = Json::array();
        for (const Finding& f : d.findings) {
            Json one = Json::object();
            one["check"] = f.check;
            one["severity"] = SeverityName(f.severity);
            one["text"] = ValidUtf8(f.text);
            Json commands = Json::array();
            for (const std::string& c : f.commands) commands.push_back(ValidUtf8(c));
            one["commands"] = commands;
            one["file"] = f.file.empty()
                              ? Json(nullptr)
                              : Json{{"path", ValidUtf8(f.file)}, {"content", ValidUtf8(f.fileContent)}};
            findings.push_back(one);
        }
        out.push_back(Json{{"port", ValidUtf8(d.port)},
                           {"device", d.device.empty() ? Json(nullptr) : Json(ValidUtf8(d.device))},
                           {"in-the-way", StandsInTheWay(d)},
                           {"findings", findings}});
    }
    return JsonText(out) + "\n";
}

std::string RenderDoctorText(const std::vector<Diagnosis>& all) {
    std::string out;
    for (const Diagnosis& d : all) {
        if (!out.empty()) out += "\n";
        out += ForTerminal(d.port) +
               (d.device.empty() || d.device == d.port ? "" : ": " + ForTerminal(d.device)) + "\n";
        for (const Finding& f : d.findings) {
            std::string tag = SeverityName(f.severity);
            tag.resize(8, ' ');
            out += "  " + tag + f.check + ": " + ForTerminal(f.text) + "\n";
            for (const std::string& c : f.commands) out += "            $ " + ForTerminal(c) + "\n";
            if (!f.file.empty()) {
                out += "            install as " + ForTerminal(f.file) + ":\n";
                std::string content = f.fileContent;
                if (!content.empty() && content.back() == '\n') content.pop_back();
                for (std::size_t at = 0;;) {
                    const std::size_t end = content.find('\n', at);
                    out += "              " + ForTerminal(content.substr(at, end - at)) + "\n";
                    if (end == std::string::npos) break;
                    at = end + 1;
                }
            }
        }
    }
    bool inTheWay = std::any_of(all.begin(), all.end(), StandsInTheWay);
    out += inTheWay ? "\nSomething stands in the way: see the warnings and errors above. Doctor changed "
                      "nothing; the fixes are for you to run.\n"
                    : "\nNothing stands in the way.\n";
    return out;
}

int RunDoctor(const Options& o, std::FILE* out, std::FILE*) {
    std::vector<std::string> ports = o.ports;
    const bool given = !ports.empty();
    if (!given)
        for (const PortInfo& p : DescribePorts()) ports.push_back(p.name);
    std::unique_ptr<DeviceServices> services = NewPlatformServices();
    std::vector<Diagnosis> all;
    for (const std::string& port : ports) {
        Diagnosis d;
        d.port = port;
        if (IsNetworkName(port)) {
            CheckNetworkPort(port, *services, d);
        } else {
            CheckLocalPort(port, given, d);
            const bool usable = std::none_of(d.findings.begin(), d.findings.end(),
                                             [](const Finding& f) { return f.severity == Severity::Error; });
            const bool present = std::any_of(d.findings.begin(), d.findings.end(), [](const Finding& f) {
                return f.check == "device" && f.severity == Severity::Ok;
            });
            if (o.doctorProbe && usable && present) ProbeLocalPort(port, *services, d);
        }
        all.push_back(std::move(d));
    }
    const std::string text = o.json ? RenderDoctorJson(all) : RenderDoctorText(all);
    const int code = std::any_of(all.begin(), all.end(), StandsInTheWay) ? 1 : 0;
    return WriteOutput(out, text) ? code : OutputGoneExit();
}

} // namespace pw::cli
