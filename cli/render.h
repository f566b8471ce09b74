// The results as a script reads them: text, "key: value" lines in one block per port, or JSON, one object
// per port (in an array when several ports were given).
#pragma once

#include "cli/options.h"
#include "cli/outside_text.h"
#include "cli/port_job.h"
#include "link/port_info.h"

#include <string>
#include <vector>

namespace pw::cli {

// The seven settings of a model by their keys: numbers for baud-rate and data-bits (baud-rate null when the
// pins give no listed rate), true/false for auto-line-feed, names otherwise.
Json SettingsJson(const SwitchModel& m);
// The same by the pins: null for a code page or baud rate the lists do not have.
Json SettingsJson(const SwitchPins& pins);
Json SwitchesJson(const SwitchPins& pins);
// {"online", "cover-open", "paper": "ok"|"near-end"|"out", "feed-button", "drawer-open", "errors": [...]}
Json StatusJson(const PrinterStatus& s);
Json PortJson(const PortResult& r, Command command);

std::string RenderJson(const std::vector<PortResult>& results, Command command);
std::string RenderText(const std::vector<PortResult>& results, Command command);

// `show`: the settings a status file holds, as `apply` writes them, and the pins it writes ('2': left as
// the printer has it).
std::string RenderShowJson(const std::string& file, const SwitchModel& loaded);
std::string RenderShowText(const std::string& file, const SwitchModel& loaded);

// `ports`: what each port of the dialogs stands for on this machine. JSON: an array of {"port", "device",
// "present", "product", "usb-id", "access"}, null where there is nothing to say; "access" is
// {"usable", "group", "command"} for a present device: whether this user may open it and, when not, the
// group that may and the command that adds the user. Text: a table with a header line.
std::string RenderPortsJson(const std::vector<PortInfo>& ports);
std::string RenderPortsText(const std::vector<PortInfo>& ports);

} // namespace pw::cli
