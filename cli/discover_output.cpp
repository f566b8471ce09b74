#include "cli/discover_output.h"

#include "cli/render.h"

#include <algorithm>
#include <cstdio>

namespace pw::cli {

namespace {

Json TextOrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

std::string Column(const std::optional<std::string>& text) {
    return text && !text->empty() ? ForTerminal(*text) : "-";
}

// What the terminal shows of `text` (UTF-8, as ForTerminal leaves it): one column a character.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string StatusColumn(const Discovered& d) {
    if (!d.probe.printer) return "not a printer";
    if (d.probe.status.result != StatusRead::Ok)
        return "status unreadable: " + StatusReadProblem(d.probe.status);
    return StatusSummary(d.probe.status.status);
}

// Four hexadecimal digits after \u, eight after \U.
std::string Escape(char kind, std::uint32_t cp, int digits) {
    char text[12];
    std::snprintf(text, sizeof text, "\\%c%0*X", kind, digits, static_cast<unsigned>(cp));
    return text;
}

} // namespace

std::string DiscoveredJson(const std::vector<Discovered>& found) {
    Json all = Json::array();
    for (const Discovered& d : found) {
        const PrinterProbe& p = d.probe;
        Json j = Json::object();
        j["port"] = d.port;
        j["address"] = d.address;
        j["printer"] = p.printer;
        j["maker"] = TextOrNull(p.maker);
        j["model"] = TextOrNull(p.model);
        j["firmware"] = TextOrNull(p.firmware);
        const bool status = p.printer && p.status.result == StatusRead::Ok;
        j["status"] = status ? StatusJson(p.status.status) : Json(nullptr);
        if (!p.printer)
            j["error"] = "not a printer: " + p.notPrinter;
        else if (!status)
            j["error"] = StatusReadProblem(p.status);
        all.push_back(j);
    }
    return JsonText(all) + "\n";
}

std::string DiscoveredTable(const std::vector<Discovered>& found) {
    std::vector<std::vector<std::string>> rows = {{"ADDRESS", "MAKER", "MODEL", "FIRMWARE", "STATUS"}};
    for (const Discovered& d : found)
        rows.push_back({d.address, Column(d.probe.maker), Column(d.probe.model), Column(d.probe.firmware),
                        ForTerminal(StatusColumn(d))});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - Width(row[i]) + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string DiscoveredInventory(const std::vector<Discovered>& found) {
    std::string hosts;
    for (const Discovered& d : found) {
        if (!d.probe.printer) continue;
        // The printer's texts are tagged for Ansible never to template them; the address and port are ours.
        const auto text = [](const std::optional<std::string>& t) {
            return t ? "!unsafe " + YamlQuoted(*t) : std::string("null");
        };
        hosts += "        " + YamlQuoted(d.address) + ":\n";
        hosts += "          printer_port: " + YamlQuoted(d.port) + "\n";
        hosts += "          printer_maker: " + text(d.probe.maker) + "\n";
        hosts += "          printer_model: " + text(d.probe.model) + "\n";
    }
    return "all:\n  children:\n    receipt_printers:\n      hosts:" +
           (hosts.empty() ? " {}\n" : "\n" + hosts);
}

std::string YamlQuoted(std::string_view text) {
    // JSON's escapes are YAML's too, but for the surrogate pairs it writes for what lies beyond U+FFFF.
    const std::string json = JsonText(Json(std::string(text)));
    std::string out;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto hexAt = [&](std::size_t at) {
            return static_cast<std::uint32_t>(std::stoul(json.substr(at, 4), nullptr, 16));
        };
        if (json.compare(i, 2, "\\\\") == 0) {
            out += "\\\\";
            ++i;
            continue;
        }
        if (json.compare(i, 2, "\\u") == 0 && i + 12 <= json.size() && json.compare(i + 6, 2, "\\u") == 0) {
            const std::uint32_t high = hexAt(i + 2), low = hexAt(i + 8);
            if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                out += Escape('U', 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00), 8);
                i += 11;
                continue;
            }
        }
        out += json[i];
    }
    return out;
}

} // namespace pw::cli
