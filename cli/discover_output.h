// What discover found, as a person or a script reads it: a table, JSON (an array of one object an address
// that took the connection, in address order) or an Ansible inventory of the printers. The printers'
// texts come from outside: escaped on a terminal, ASCII in JSON and YAML, !unsafe for Ansible.
#pragma once

#include "cli/outside_text.h"
#include "protocol/printer_probe.h"

#include <string>
#include <string_view>
#include <vector>

namespace pw::cli {

struct Discovered {
    std::string address; // "192.168.1.50", "fd00::50"
    std::string port;    // as -p takes it: "tcp://192.168.1.50:9100", "tcp://[fd00::50]:9100"
    PrinterProbe probe;
};

// An array of {"port", "address", "printer", "maker", "model", "firmware", "status"}, "status" the object
// of the status command: null for a text the printer did not send and for a status that could not be
// read, with "error" saying why; something that is no printer has all of them null and "error" too.
std::string DiscoveredJson(const std::vector<Discovered>& found);
// ADDRESS, MAKER, MODEL, FIRMWARE, STATUS; a header line, then one line an address.
std::string DiscoveredTable(const std::vector<Discovered>& found);
// all: children: receipt_printers: hosts: one a printer, named by its address, with printer_port,
// printer_maker and printer_model; the others are left out. The printer's texts are tagged !unsafe, data
// that Ansible never renders as a template.
std::string DiscoveredInventory(const std::vector<Discovered>& found);

// `text` in double quotes as both JSON and YAML read it, in ASCII: what is not ASCII as \u or \U escapes
// (never a surrogate pair, which YAML would take as two characters), bytes that are not UTF-8 as U+FFFD.
std::string YamlQuoted(std::string_view text);

} // namespace pw::cli
