// `status --metrics`: the printers' health in the Prometheus text format, for node_exporter's textfile
// collector, written so that a scrape never sees half a file.
#pragma once

#include "cli/port_job.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pw::cli {

// A label value: valid UTF-8 (a byte that is not becomes U+FFFD), backslash, double quote and line feed
// escaped, as the format asks.
std::string MetricLabel(const std::string& value);

// The printers' gauges (pinwright_printer_*), each with HELP and TYPE, labelled with the port.
std::string PrinterGaugesText(const std::vector<PortResult>& results);

// Every gauge with HELP and TYPE, one sample per port (and per error kind), labelled with the port.
// A port whose status was not read has only pinwright_printer_up 0.
std::string MetricsText(const std::vector<PortResult>& results, std::int64_t unixTime);

// Writes `text` to a new file beside `path`, then renames it over `path`: the file keeps the mode (and, as
// root, the owner and group) of the one it replaces; a first file is 0644 whatever the umask, so that the
// collector's user may read it. False with `error` set (and nothing left behind) when it could not.
bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error);

} // namespace pw::cli
