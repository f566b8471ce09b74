#include "cli/settings_table.h"

#include "link/letter_case.h"
#include "protocol/line_finder.h"
#include "protocol/switch_sequences.h"

#include <algorithm>
#include <cctype>

namespace pw::cli {

namespace {

std::string Chars(const Cmd<15>& cmd) {
    return std::string(cmd.begin() + 7, cmd.end());
}

// Which setting each written pin stands on: switch, pin, key.
struct PinOwner {
    int sw;
    int pin;
    const char* key;
};
constexpr PinOwner kPinOwners[] = {
    {1, 5, "auto-line-feed"}, {2, 3, "auto-cutter"}, {2, 4, "code-page"},    {2, 5, "code-page"},
    {2, 6, "code-page"},      {2, 7, "code-page"},   {2, 8, "code-page"},    {9, 2, "data-bits"},
    {9, 3, "parity"},         {9, 4, "parity"},      {9, 5, "flow-control"}, {9, 6, "baud-rate"},
    {9, 7, "baud-rate"},      {9, 8, "baud-rate"},
};

const std::string& Of(const SwitchPins& p, int sw) {
    return sw == 1 ? p.sw1 : sw == 2 ? p.sw2 : p.sw9;
}

char PinChar(const std::string& pins, int pin) {
    return pins.size() == 8 ? pins[static_cast<std::size_t>(8 - pin)] : '2';
}

std::string FromArray(const int sw[8]) {
    std::string s;
    for (int pin = 8; pin >= 1; --pin) s += sw[pin - 1] != 0 ? '1' : '0';
    return s;
}

} // namespace

const std::vector<SettingKey>& SettingKeys() {
    static const std::vector<SettingKey> keys = {
        {"baud-rate", {"9600", "19200", "38400", "57600", "115200"}, &SwitchModel::m_nBaudSel, ApplyBaudRate},
        {"data-bits", {"7", "8"}, &SwitchModel::m_nDataBitsSel, ApplyDataBits},
        {"parity", {"none", "odd", "even"}, &SwitchModel::m_nParitySel, ApplyParity},
        {"flow-control", {"dtr-dsr", "xon-xoff"}, &SwitchModel::m_nFlowSel, ApplyFlowControl},
        {"auto-cutter", {"partial", "full"}, &SwitchModel::m_nCutterSel, ApplyAutoCutter},
        {"auto-line-feed", {"off", "on"}, &SwitchModel::m_nAutoFeedSel, nullptr},
        {"code-page",
         {"PC437", "Katakana", "PC850", "PC860", "PC863", "PC865", "WPC1252", "PC866", "PC852", "PC858",
          "PC864", "Thai42", "WPC1253", "WPC1251", "PC737", "Thai16", "WPC1255", "PC855", "PC857"},
         &SwitchModel::m_nCodePageSel,
         ApplyCodePage},
    };
    return keys;
}

const SettingKey* FindSettingKey(const std::string& key) {
    for (const SettingKey& k : SettingKeys())
        if (key == k.key) return &k;
    return nullptr;
}

std::optional<Assignment> ParseAssignment(const std::string& text, std::string& error) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        error = "'" + text + "' is not KEY=VALUE";
        return std::nullopt;
    }
    const std::string key = text.substr(0, eq), value = text.substr(eq + 1);
    const SettingKey* k = FindSettingKey(key);
    if (!k) {
        std::string all;
        for (const SettingKey& s : SettingKeys()) all += std::string(all.empty() ? "" : ", ") + s.key;
        error = "unknown setting '" + key + "' (one of " + all + ")";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < k->values.size(); ++i)
        if (AsciiLower(k->values[i]) == AsciiLower(value)) return Assignment{k, static_cast<int>(i)};
    std::string all;
    for (const std::string& v : k->values) all += (all.empty() ? "" : " ") + v;
    error = "'" + value + "' is no value of " + key + " (one of " + all + ")";
    return std::nullopt;
}

void Apply(const Assignment& a, SwitchModel& m) {
    m.*(a.key->selection) = a.index;
    if (a.key->rule) a.key->rule(m);
}

std::optional<std::string> SettingValue(const SettingKey& key, const SwitchModel& m) {
    const int sel = m.*(key.selection);
    if (sel < 0 || sel >= static_cast<int>(key.values.size())) return std::nullopt;
    return key.values[static_cast<std::size_t>(sel)];
}

SwitchPins PinsToWrite(const SwitchModel& m) {
    return {Chars(BuildSwitch1Command(m)), Chars(BuildSwitch2Command(m)), Chars(BuildSwitch9Command(m))};
}

SwitchPins PinsOfFile(const SwitchModel& m) {
    SwitchPins pins = PinsToWrite(m);
    // A code page without an entry: the file's own pins 4 to 8 of switch 2 stand, as they were saved.
    if (m.m_nCodePageSel < 0 || m.m_nCodePageSel >= kCodePageCount)
        for (int pin = 4; pin <= 8; ++pin)
            pins.sw2[static_cast<std::size_t>(8 - pin)] = m.m_sw2[pin - 1] != 0 ? '1' : '0';
    return pins;
}

std::string LineText(const LineOptions& l) {
    return SerialLineText({l.baud, l.dataBits, l.parity, l.stopBits});
}

SwitchPins PinsRead(const SwitchModel& m, const std::string& switch1) {
    return {switch1, FromArray(m.m_sw2), FromArray(m.m_sw9)};
}

SwitchModel ModelFromPins(const SwitchPins& pins) {
    SwitchModel m;
    for (int pin = 1; pin <= 8; ++pin) {
        m.m_sw2[pin - 1] = PinChar(pins.sw2, pin) == '1' ? 1 : 0;
        m.m_sw9[pin - 1] = PinChar(pins.sw9, pin) == '1' ? 1 : 0;
    }
    DeriveSelections(m, PinChar(pins.sw1, 5) == '1' ? 1 : 0);
    return m;
}

SwitchPins PinsOnRead(const SwitchPins& read, const SwitchPins& wanted) {
    SwitchPins out;
    for (const PinOwner& o : kPinOwners) {
        const char w = PinChar(Of(wanted, o.sw), o.pin);
        std::string& to = o.sw == 1 ? out.sw1 : o.sw == 2 ? out.sw2 : out.sw9;
        to[static_cast<std::size_t>(8 - o.pin)] = w != '2' ? w : PinChar(Of(read, o.sw), o.pin);
    }
    return out;
}

SwitchPins PinsOfAssignments(const std::vector<Assignment>& changes, const SwitchModel& read) {
    SwitchModel m = read;
    for (const Assignment& a : changes) Apply(a, m);
    const SwitchPins all = PinsToWrite(m);
    SwitchPins out;
    for (const PinOwner& o : kPinOwners) {
        bool named = false;
        for (const Assignment& a : changes) named = named || std::string(a.key->key) == o.key;
        if (!named) continue;
        std::string& to = o.sw == 1 ? out.sw1 : o.sw == 2 ? out.sw2 : out.sw9;
        to[static_cast<std::size_t>(8 - o.pin)] = PinChar(Of(all, o.sw), o.pin);
    }
    return out;
}

std::optional<std::string> PinsValue(const SettingKey& key, const SwitchPins& pins) {
    for (const PinOwner& o : kPinOwners)
        if (key.key == std::string(o.key) && PinChar(Of(pins, o.sw), o.pin) == '2') return std::nullopt;
    const SwitchModel m = ModelFromPins(pins);
    if (&key == FindSettingKey("code-page")) {
        const int value = CodePageValueFromPins(m.m_sw2);
        if (CodePageValueFromIndex(CodePageIndexFromValue(value)) != value) return std::nullopt;
    }
    return SettingValue(key, m);
}

std::vector<std::string> SettingsNotTaken(const SwitchPins& written, const SwitchPins& read) {
    std::vector<std::string> keys;
    for (const PinOwner& o : kPinOwners) {
        const char w = PinChar(Of(written, o.sw), o.pin);
        if (w == '2' || w == PinChar(Of(read, o.sw), o.pin)) continue;
        if (std::find(keys.begin(), keys.end(), o.key) == keys.end()) keys.push_back(o.key);
    }
    std::vector<std::string> ordered;
    for (const SettingKey& k : SettingKeys())
        if (std::find(keys.begin(), keys.end(), k.key) != keys.end()) ordered.push_back(k.key);
    return ordered;
}

LineOptions LineAfterWrite(const SwitchPins& written, const LineOptions& current) {
    LineOptions line = current;
    const std::string& s = written.sw9;
    auto on = [&](int pin) { return PinChar(s, pin) == '1'; };
    auto set = [&](int pin) { return PinChar(s, pin) != '2'; };
    if (set(6) && set(7) && set(8)) {
        const int index = (on(6) ? 1 : 0) + (on(7) ? 2 : 0) + (on(8) ? 4 : 0);
        if (index < kBaudRateCount) line.baud = kBaudRateValues[static_cast<std::size_t>(index)];
    }
    if (set(2)) line.dataBits = on(2) ? 7 : 8;
    if (set(4)) line.parity = on(4) ? (on(3) ? 2 : 1) : 0;
    return line;
}

} // namespace pw::cli
