#include "cli/render.h"

#include <algorithm>

namespace pw::cli {

namespace {

Json SettingJson(const SettingKey& key, const std::optional<std::string>& value) {
    if (!value) return nullptr;
    const std::string k = key.key;
    if (k == "baud-rate" || k == "data-bits") return std::stoi(*value);
    if (k == "auto-line-feed") return *value == "on";
    return *value;
}

void SettingLines(std::string& out, const SwitchPins& pins) {
    for (const SettingKey& key : SettingKeys())
        out += std::string(key.key) + ": " + PinsValue(key, pins).value_or("unlisted") + "\n";
}

bool WritesSwitches(Command command) {
    return command == Command::Set || command == Command::Apply;
}

const char* WrittenText(Written w) {
    switch (w) {
    case Written::Partly:
        return "partly";
    case Written::Yes:
        return "yes";
    case Written::No:
        break;
    }
    return "no";
}

void SwitchLines(std::string& out, const SwitchPins& pins) {
    out += "switch 1: " + pins.sw1 + "\nswitch 2: " + pins.sw2 + "\nswitch 9: " + pins.sw9 + "\n";
}

// set and apply: "unchanged", or what was (or with --check would be) written, "code-page PC437 -> PC858".
std::string ChangeText(const PortResult& r) {
    if (r.changes.empty() && !r.changed) return "unchanged";
    if (r.changes.empty())
        return r.checkOnly ? "would write again (--force): every setting is already held"
                           : "written again (--force): every setting was already held";
    std::string list;
    for (const std::string& k : r.changes) {
        const SettingKey& key = *FindSettingKey(k);
        list += (list.empty() ? "" : ", ") + k + " " + PinsValue(key, r.before).value_or("unlisted") +
                " -> " + PinsValue(key, r.after).value_or("unlisted");
    }
    return (r.checkOnly ? "would change " : "changed ") + list;
}

} // namespace

Json SettingsJson(const SwitchModel& m) {
    Json j = Json::object();
    for (const SettingKey& key : SettingKeys()) j[key.key] = SettingJson(key, SettingValue(key, m));
    return j;
}

Json SettingsJson(const SwitchPins& pins) {
    Json j = Json::object();
    for (const SettingKey& key : SettingKeys()) j[key.key] = SettingJson(key, PinsValue(key, pins));
    return j;
}

Json SwitchesJson(const SwitchPins& pins) {
    return Json{{"1", pins.sw1}, {"2", pins.sw2}, {"9", pins.sw9}};
}

namespace {
Json LineJson(const LineOptions& l) {
    static const char* const kParity[] = {"none", "odd", "even"};
    static const char* const kStop[] = {"1", "1.5", "2"};
    return Json{{"baud", l.baud},
                {"data-bits", l.dataBits},
                {"parity", kParity[l.parity >= 0 && l.parity <= 2 ? l.parity : 0]},
                {"stop-bits", kStop[l.stopBits >= 0 && l.stopBits <= 2 ? l.stopBits : 0]}};
}
} // namespace

Json StatusJson(const PrinterStatus& s) {
    return Json{{"online", s.online},          {"cover-open", s.coverOpen},   {"paper", PaperKey(s.paper)},
                {"feed-button", s.feedButton}, {"drawer-open", s.drawerOpen}, {"errors", s.errors}};
}

Json PortJson(const PortResult& r, Command command) {
    Json j = Json::object();
    j["port"] = r.port;
    if (r.serial) j["line"] = LineJson(r.line);
    if (r.exit != kExitOk) {
        j["error"] = r.error;
        j["exit"] = r.exit;
        if (!r.notTaken.empty()) j["not-taken"] = r.notTaken;
    } else if (command == Command::Check) {
        j["connected"] = true;
    } else if (command == Command::SelfTest) {
        j["self-test"] = "sent";
    }
    if (WritesSwitches(command)) j["written"] = WrittenText(r.written);
    if (!r.backup.empty()) j["backup"] = r.backup;
    if (r.compared) {
        j["changed"] = r.changed;
        j["changes"] = r.changes;
        j["before"] = SettingsJson(r.before);
        j["after"] = SettingsJson(r.after);
    }
    if (r.haveStatus) j["status"] = StatusJson(r.status);
    if (r.haveState) {
        j["firmware"] = r.firmware;
        j["maker"] = r.maker;
        j["model"] = r.model;
        j["settings"] = SettingsJson(r.pins);
        j["switches"] = SwitchesJson(r.pins);
    }
    return j;
}

std::string RenderJson(const std::vector<PortResult>& results, Command command) {
    if (results.size() == 1) return JsonText(PortJson(results[0], command)) + "\n";
    Json all = Json::array();
    for (const PortResult& r : results) all.push_back(PortJson(r, command));
    return JsonText(all) + "\n";
}

std::string RenderText(const std::vector<PortResult>& results, Command command) {
    std::string out;
    for (const PortResult& r : results) {
        if (!out.empty()) out += "\n";
        out += "port: " + ForTerminal(r.port) + "\n";
        if (r.serial) out += "line: " + LineText(r.line) + "\n";
        if (r.exit != kExitOk) {
            out += "error: " + ForTerminal(r.error) + "\nexit: " + std::to_string(r.exit) + "\n";
        } else if (command == Command::Check) {
            out += "result: Printer is connected.\n";
        } else if (command == Command::SelfTest) {
            out += "result: self test sent\n";
        } else if (r.compared) {
            out += "result: " + ChangeText(r) + "\n";
        }
        if (!r.backup.empty()) out += "backup: " + ForTerminal(r.backup) + "\n";
        // A result line says what a run that ended well wrote; a failure says it here.
        if (WritesSwitches(command) && r.exit != kExitOk)
            out += std::string("written: ") + WrittenText(r.written) + "\n";
        if (r.haveStatus) {
            const PrinterStatus& s = r.status;
            std::string errors;
            for (const std::string& e : s.errors) errors += (errors.empty() ? "" : ", ") + e;
            auto yes = [](bool b) { return b ? "yes" : "no"; };
            out += "status: " + StatusSummary(s) + "\nonline: " + yes(s.online) +
                   "\ncover-open: " + yes(s.coverOpen) + "\npaper: " + PaperKey(s.paper) +
                   "\nfeed-button: " + yes(s.feedButton) + "\ndrawer-open: " + yes(s.drawerOpen) +
                   "\nerrors: " + (errors.empty() ? "none" : errors) + "\n";
        }
        if (r.haveState) {
            out += "firmware: " + ForTerminal(r.firmware) + "\nmaker: " + ForTerminal(r.maker) +
                   "\nmodel: " + ForTerminal(r.model) + "\n";
            SettingLines(out, r.pins);
            SwitchLines(out, r.pins);
        }
    }
    return out;
}

std::string RenderShowJson(const std::string& file, const SwitchModel& loaded) {
    const SwitchPins pins = PinsOfFile(loaded);
    Json j = Json::object();
    j["file"] = file;
    j["settings"] = SettingsJson(pins);
    j["switches"] = SwitchesJson(pins);
    return JsonText(j) + "\n";
}

std::string RenderShowText(const std::string& file, const SwitchModel& loaded) {
    const SwitchPins pins = PinsOfFile(loaded);
    std::string out = "file: " + ForTerminal(file) + "\n";
    SettingLines(out, pins);
    SwitchLines(out, pins);
    return out;
}

namespace {
Json OrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json AccessJson(const PortInfo& p) {
    if (p.access == PortAccess::Unknown) return nullptr;
    return Json{{"usable", p.access == PortAccess::Granted},
                {"group", OrNull(p.accessGroup)},
                {"command", OrNull(GrantCommand(p))}};
}

// "yes", "-" when not judged, "no", or "no, group dialout: sudo usermod -aG dialout "$USER"".
std::string AccessColumn(const PortInfo& p) {
    if (p.access == PortAccess::Unknown) return "-";
    if (p.access == PortAccess::Granted) return "yes";
    if (p.accessGroup.empty()) return "no";
    return "no, group " + p.accessGroup + ": " + GrantCommand(p);
}
} // namespace

std::string RenderPortsJson(const std::vector<PortInfo>& ports) {
    Json all = Json::array();
    for (const PortInfo& p : ports)
        all.push_back(Json{{"port", p.name},
                           {"device", OrNull(p.device)},
                           {"present", p.present},
                           {"product", OrNull(p.product)},
                           {"usb-id", OrNull(p.usbId)},
                           {"access", AccessJson(p)}});
    return JsonText(all) + "\n";
}

std::string RenderPortsText(const std::vector<PortInfo>& ports) {
    std::vector<std::vector<std::string>> rows = {
        {"PORT", "DEVICE", "PRESENT", "PRODUCT", "USB ID", "ACCESS"}};
    for (const PortInfo& p : ports)
        rows.push_back({p.name, p.device.empty() ? "-" : ForTerminal(p.device), p.present ? "yes" : "no",
                        ForTerminal(p.product), ForTerminal(p.usbId), ForTerminal(AccessColumn(p))});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    }
    return out;
}

} // namespace pw::cli
