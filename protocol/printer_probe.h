// What took a network connection: an ESC/POS printer, and then which one and in what state, or something
// else (a web server, a listener that says nothing). A printer answers DLE EOT 1 at once, whatever it is
// doing, with one byte of the status shape; only then are its identity (GS I 65, 66, 67) and its
// real-time status (DLE EOT 1 to 4) asked for. An offline printer (cover open, paper out, ...) is asked for
// its status only: it would hold GS I until it is back online and answer them then, to whoever is
// connected by that time. Nothing else is ever sent: no ESC @ (which would clear a
// receipt being printed), no select, no GS a, nothing that prints or changes a setting. Each reply is
// waited for a short time, so a listener that says nothing costs one wait.
#pragma once

#include "link/printer_port.h"
#include "protocol/printer_status.h"

#include <optional>
#include <string>

namespace pw {

// How long each status reply, and each identity text whole, is waited for.
constexpr std::uint32_t kProbeStatusMs = 800;
constexpr std::uint32_t kProbeTextMs = 1000;

struct PrinterProbe {
    bool printer = false;
    std::string notPrinter; // not a printer: what came instead of one status byte
    bool unsent = false;    // not a printer: DLE EOT 1 could not even be sent (the other side closed)
    // A printer's identity texts; none for a query it did not answer.
    std::optional<std::string> firmware, maker, model;
    StatusReading status; // a printer's DLE EOT 1 to 4
};

// A printer's identity texts (GS I 65, 66, 67), each read within `textMs`; none for a query it did not
// answer. Only for a printer that is online: an offline one holds GS I until it is back.
void AskIdentity(CPrinterPort& port, PrinterProbe& p, std::uint32_t textMs = kProbeTextMs);

// Asks what answers on an open network port.
PrinterProbe ProbePrinter(CPrinterPort& port, std::uint32_t statusMs = kProbeStatusMs,
                          std::uint32_t textMs = kProbeTextMs);

} // namespace pw
