// Every value of every setting key against the main dialog's own combo box at the same place, and against
// the pins: a name swapped in the CLI's table, or a value that sets other pins than the dialog's item,
// fails here.
#include "cli/settings_table.h"
#include "framework/dialog_template.h"
#include "framework/resources.h"
#include "res/resource.h"
#include "res/resources.h"

#include <gtest/gtest.h>

#include <map>

using namespace pw;
using namespace pw::cli;

namespace {

// How the CLI names the dialog's item: the words before any parenthesis, "Thai character code 42" as
// "Thai42", "Disable"/"Enable" as "off"/"on", "DTR/DSR" as "dtr-dsr", in any letter case.
std::string CliName(const std::string& key, std::string item) {
    if (key == "auto-line-feed") return item == "Enable" ? "on" : item == "Disable" ? "off" : "?" + item;
    if (const auto paren = item.find(" ("); paren != std::string::npos) item.erase(paren);
    if (item.rfind("Thai character code ", 0) == 0) item = "Thai" + item.substr(20);
    if (key == "auto-cutter") item.erase(item.find(' '));
    for (char& c : item) c = c == '/' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return item;
}

TEST(CliSettingKeys, EveryValueIsTheDialogsItemAtTheSamePlaceAndSetsItsPins) {
    RegisterDialogTemplates();
    const DialogTemplate& main = FindDialogTemplate(IDD_SWITCH_DIALOG);
    const std::map<std::string, int> combo = {
        {"baud-rate", IDC_BAUD_RATE},     {"data-bits", IDC_DATA_BITS},
        {"parity", IDC_PARITY},           {"flow-control", IDC_FLOW_CONTROL},
        {"auto-cutter", IDC_AUTO_CUTTER}, {"auto-line-feed", IDC_AUTO_FEED},
        {"code-page", IDC_CODE_PAGE}};
    ASSERT_EQ(SettingKeys().size(), combo.size());
    // The code page values by the printer's table, index by index (pin 4 is bit 0, pin 8 bit 4).
    const int codePageValue[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 17, 18, 20, 22, 25, 26};
    for (const SettingKey& key : SettingKeys()) {
        const ControlTemplate* control = main.Find(combo.at(key.key));
        ASSERT_NE(control, nullptr) << key.key;
        ASSERT_EQ(key.values.size(), control->items.size()) << key.key;
        for (std::size_t i = 0; i < key.values.size(); ++i) {
            std::string lower = key.values[i];
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(lower, CliName(key.key, control->items[i])) << key.key << " at " << i;

            std::string error;
            const auto a = ParseAssignment(std::string(key.key) + "=" + key.values[i], error);
            ASSERT_TRUE(a) << error;
            SwitchModel m = ModelFromPins({"00000000", "00000000", "00000000"});
            Apply(*a, m);
            EXPECT_EQ(m.*(key.selection), static_cast<int>(i)) << key.key << "=" << key.values[i];
            // What it writes, read back as Get Status derives it, is the same item.
            const SwitchPins pins = PinsToWrite(m);
            EXPECT_EQ(ModelFromPins(pins).*(key.selection), static_cast<int>(i))
                << key.key << "=" << key.values[i];
            EXPECT_EQ(SettingValue(key, ModelFromPins(pins)), key.values[i]);
            if (std::string(key.key) == "code-page") {
                int value = 0;
                for (int pin = 4; pin <= 8; ++pin) value |= (pins.sw2[8 - pin] == '1') << (pin - 4);
                EXPECT_EQ(value, codePageValue[i]) << key.values[i];
            }
        }
    }
}

} // namespace
