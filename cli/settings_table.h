// The settings as a script names them: seven keys, each with its list of values in the order of the main
// dialog's combo box, so that a value's place in the list is the selection index. Also the pins each
// setting stands on, for telling which settings a printer did not take.
#pragma once

#include "settings/switch_model.h"

#include <optional>
#include <string>
#include <vector>

namespace pw::cli {

struct SettingKey {
    const char* key;
    std::vector<std::string> values; // index = selection
    int SwitchModel::*selection;
    void (*rule)(SwitchModel&); // the setting selector that sets the pins; null for the line feed
};

// The seven keys in their display order: baud-rate, data-bits, parity, flow-control, auto-cutter,
// auto-line-feed, code-page.
const std::vector<SettingKey>& SettingKeys();
const SettingKey* FindSettingKey(const std::string& key);

// One KEY=VALUE of `set`.
struct Assignment {
    const SettingKey* key;
    int index;
};
// Parses "KEY=VALUE" (code page names in any letter case); on failure `error` says what is wrong.
std::optional<Assignment> ParseAssignment(const std::string& text, std::string& error);
// Stores the selection and runs its selector, as choosing the item in the dialog does.
void Apply(const Assignment& a, SwitchModel& m);

// A setting's value by its selection; nullopt when the selection is none of the list (a baud rate that the
// pins give no listed rate for).
std::optional<std::string> SettingValue(const SettingKey& key, const SwitchModel& m);

// Memory switches 1, 2 and 9 as eight characters each, pin 8 first: '0' off, '1' on, '2' not written.
struct SwitchPins {
    std::string sw1 = "22222222", sw2 = "22222222", sw9 = "22222222";
    bool operator==(const SwitchPins&) const = default;
};
// The pins as Set Status writes them for this model.
SwitchPins PinsToWrite(const SwitchModel& m);
// The pins a status file stands for: as Set Status writes its model, but a code page the table does not
// list (selection -1) keeps the file's own pins, so that a backup of such a printer puts it back.
SwitchPins PinsOfFile(const SwitchModel& m);
// The pins as read: switches 2 and 9 from the model, switch 1 as the printer sent it.
SwitchPins PinsRead(const SwitchModel& m, const std::string& switch1);
// A model with these pins and the selections Get Status derives from them ('2' counts as off).
SwitchModel ModelFromPins(const SwitchPins& pins);
// What the CLI writes: every pin a change command writes as `read` has it, but the pins of the settings
// that `wanted` gives (not '2'), so that a pin or value the tables do not list stays as the printer has it.
SwitchPins PinsOnRead(const SwitchPins& read, const SwitchPins& wanted);
// The pins of the assigned settings as choosing them in the dialog sets them on `read`, '2' elsewhere.
SwitchPins PinsOfAssignments(const std::vector<Assignment>& changes, const SwitchModel& read);
// A setting's value by the pins; nullopt when they hold a value the list does not have (a code page or a
// baud rate without an entry) or are not all given.
std::optional<std::string> PinsValue(const SettingKey& key, const SwitchPins& pins);
// The keys of the settings whose written pins differ in `read`, in display order.
std::vector<std::string> SettingsNotTaken(const SwitchPins& written, const SwitchPins& read);

// Serial line settings a printer uses after switch 9 was written with these pins; fields the pins leave
// open keep `current`.
struct LineOptions {
    int baud = 9600;
    int dataBits = 8;
    int parity = 0;        // 0 none, 1 odd, 2 even
    int stopBits = 0;      // 0 one, 1 one and a half, 2 two
    bool autoBaud = false; // --baud auto: a serial port first finds the line its printer answers at
    bool operator==(const LineOptions&) const = default;
};
LineOptions LineAfterWrite(const SwitchPins& written, const LineOptions& current);
// "38400 8N1"
std::string LineText(const LineOptions& line);

} // namespace pw::cli
