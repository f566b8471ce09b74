#include "cli/metrics.h"

#include "cli/outside_text.h"
#include "cli/platform.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace pw::cli {

std::string MetricLabel(const std::string& value) {
    std::string out;
    for (char c : ValidUtf8(value)) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

struct Gauge {
    const char* name;
    const char* help;
};

void Header(std::string& out, const Gauge& g) {
    out += std::string("# HELP ") + g.name + " " + g.help + "\n# TYPE " + g.name + " gauge\n";
}

void Sample(std::string& out, const Gauge& g, const std::string& labels, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.0f", value);
    out += std::string(g.name) + "{" + labels + "} " + number + "\n";
}

const char* const kErrorKinds[] = {"cutter", "unrecoverable", "auto-recoverable", "unknown"};

} // namespace

std::string PrinterGaugesText(const std::vector<PortResult>& results) {
    const Gauge up{"pinwright_printer_up",
                   "Whether the printer answered its real-time status (1) or not (0)."};
    const Gauge online{"pinwright_printer_online", "Whether the printer is online."};
    const Gauge attention{"pinwright_printer_needs_attention",
                          "Whether the printer cannot print until someone sees to it: offline, cover open, "
                          "paper out or an error."};
    const Gauge nearEnd{"pinwright_printer_paper_near_end", "Whether the paper roll is near its end."};
    const Gauge out{"pinwright_printer_paper_out", "Whether the printer is out of paper."};
    const Gauge cover{"pinwright_printer_cover_open", "Whether the printer's cover is open."};
    const Gauge error{"pinwright_printer_error", "Whether the printer reports an error of this kind."};
    auto port = [](const PortResult& r) { return "port=\"" + MetricLabel(r.port) + "\""; };
    std::string text;
    Header(text, up);
    for (const PortResult& r : results) Sample(text, up, port(r), r.haveStatus ? 1 : 0);
    const std::pair<const Gauge*, bool (*)(const PrinterStatus&)> flags[] = {
        {&online, [](const PrinterStatus& s) { return s.online; }},
        {&attention, [](const PrinterStatus& s) { return s.NeedsAttention(); }},
        {&nearEnd, [](const PrinterStatus& s) { return s.paper == Paper::NearEnd; }},
        {&out, [](const PrinterStatus& s) { return s.paper == Paper::Out; }},
        {&cover, [](const PrinterStatus& s) { return s.coverOpen; }},
    };
    for (const auto& [gauge, value] : flags) {
        Header(text, *gauge);
        for (const PortResult& r : results)
            if (r.haveStatus) Sample(text, *gauge, port(r), value(r.status) ? 1 : 0);
    }
    Header(text, error);
    for (const PortResult& r : results) {
        if (!r.haveStatus) continue;
        for (const char* kind : kErrorKinds) {
            bool set = false;
            for (const std::string& e : r.status.errors) set = set || e == kind;
            Sample(text, error, port(r) + ",kind=\"" + kind + "\"", set ? 1 : 0);
        }
    }
    return text;
}

std::string MetricsText(const std::vector<PortResult>& results, std::int64_t unixTime) {
    const Gauge when{"pinwright_status_last_run_timestamp_seconds",
                     "When pinwright-cli status last wrote this file, in seconds since the epoch."};
    std::string text = PrinterGaugesText(results);
    Header(text, when);
    text += std::string(when.name) + " " + std::to_string(unixTime) + "\n";
    return text;
}

bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::random_device random;
    // Hidden and without the .prom ending, so that the collector never reads it half written.
    const fs::path temp =
        target.parent_path() / ("." + target.filename().string() + ".tmp-" + std::to_string(random()));
    std::error_code ec;
    if (fs::is_directory(target, ec)) {
        error = "cannot write the metrics file " + path + ": it is a folder";
        return false;
    }
    std::string why;
    if (!WriteNewFileLike(temp.string(), path, text, why)) {
        error = "cannot write the metrics file beside " + path + " (" + why + ")";
        return false;
    }
    fs::rename(temp, target, ec);
    if (!ec) return true;
    error = "cannot replace the metrics file " + path + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
}

} // namespace pw::cli
