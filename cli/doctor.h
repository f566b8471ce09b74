// pinwright-cli doctor: for each port, what stands between this user and the printer, and the way past it.
// Findings come in the order a technician would look: the device, who may open it, who holds it, the
// services that take such devices (ModemManager, brltty), the driver; on the network the name, the
// connection and what answers. Doctor changes nothing on the machine (it prints the fixes, never runs them)
// and sends a serial, USB or parallel printer no byte unless asked to probe; a network printer is asked
// only the real-time status (DLE EOT) and its identity (GS I), nothing that prints.
#pragma once

#include "cli/options.h"
#include "cli/outside_text.h"
#include "link/device_services.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pw::cli {

// ok: checked and fine; info: what the port is; warning: may stand in the way (a service that would
// talk to the device, a printer that needs attention); error: stands in the way. Warnings and errors make
// exit status 1.
enum class Severity { Ok, Info, Warning, Error };
const char* SeverityName(Severity s);

struct Finding {
    std::string check; // which look it is: "device", "kind", "access", "holder", "modemmanager", ...
    Severity severity = Severity::Info;
    std::string text;                  // a plain explanation (may carry text from outside)
    std::vector<std::string> commands; // the way past it, to type in order; may be empty
    std::string file, fileContent;     // or a file to install, with what it holds
};

struct Diagnosis {
    std::string port;   // as given, or the dialogs' name
    std::string device; // the device file or address it stands for; empty when none
    std::vector<Finding> findings;
    void Add(std::string check, Severity severity, std::string text, std::vector<std::string> commands = {},
             std::string file = {}, std::string fileContent = {});
};

// Whether anything in it stands in the way (a warning or an error).
bool StandsInTheWay(const Diagnosis& d);

// The platform's checks of a port that is no network address, without sending a byte: the device, its
// kind, access, holders and the services and drivers around it. `given`: named with -p (a port that is
// not there is then an error; in the sweep of every port it is only said).
void CheckLocalPort(const std::string& port, bool given, Diagnosis& d);

// The programs of this machine with a connection established to `port` at one of `addresses` (numeric, as
// a port name takes them): "NAME (PID n)". Empty where the platform does not say (Windows).
std::vector<std::string> LocalClientsOf(const std::vector<std::string>& addresses, std::uint16_t port);

// A network printer: the name, the connection, what answers; then identity and status.
void CheckNetworkPort(const std::string& port, DeviceServices& services, Diagnosis& d);

// With --probe: the line search on a serial port (DLE EOT only), then identity and status; a USB or
// parallel printer is asked for identity and status at once.
void ProbeLocalPort(const std::string& port, DeviceServices& services, Diagnosis& d);

// The JSON array of {"port", "device", "in-the-way", "findings": [{"check", "severity", "text",
// "commands", "file"}]}, "file" null or {"path", "content"}.
std::string RenderDoctorJson(const std::vector<Diagnosis>& all);
// One block a port: its name and device, then one line a finding with its severity, the fix indented.
std::string RenderDoctorText(const std::vector<Diagnosis>& all);

// The doctor command: 0 when nothing stands in the way, 1 when something does.
int RunDoctor(const Options& o, std::FILE* out, std::FILE* err);

} // namespace pw::cli
