// The settings as scripts name them: keys and values against the dialog's selectors, the pins each
// setting stands on, the line settings after a write, and the JSON of a port.
#include "cli/render.h"
#include "cli/settings_table.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::cli;

namespace {

SwitchModel Read(const std::string& sw1, const std::string& sw2, const std::string& sw9) {
    return ModelFromPins({sw1, sw2, sw9});
}

TEST(CliTables, EveryValueSetsThePinsTheDialogsSelectorSets) {
    // Starting from a printer that holds everything on, each KEY=VALUE writes what choosing that item does.
    struct Case {
        const char* assignment;
        SwitchPins written;
    };
    const SwitchModel start = Read("11111111", "11111111", "11111111");
    const std::vector<Case> cases = {
        {"baud-rate=9600", {"22212222", "00000122", "00011112"}},
        {"baud-rate=57600", {"22212222", "00000122", "01111112"}},
        {"data-bits=8", {"22212222", "00000122", "11111102"}},
        {"parity=none", {"22212222", "00000122", "11110112"}},
        {"parity=odd", {"22212222", "00000122", "11111012"}},
        {"flow-control=dtr-dsr", {"22212222", "00000122", "11101112"}},
        {"auto-cutter=partial", {"22212222", "00000022", "11111112"}},
        {"auto-line-feed=off", {"22202222", "00000122", "11111112"}},
        {"code-page=PC437", {"22212222", "00000122", "11111112"}},
        {"code-page=thai16", {"22212222", "10100122", "11111112"}},
    };
    // 11111 is code page value 31, which has no entry: read as PC437, and written as PC437.
    EXPECT_EQ(PinsToWrite(start).sw2, "00000122");
    EXPECT_EQ(PinsToWrite(start).sw9, "11111112") << "baud index 7 has no entry: its pins are kept";
    for (const Case& c : cases) {
        std::string error;
        auto a = ParseAssignment(c.assignment, error);
        ASSERT_TRUE(a) << error;
        SwitchModel m = start;
        Apply(*a, m);
        EXPECT_EQ(PinsToWrite(m), c.written) << c.assignment;
    }
}

TEST(CliTables, OnlyTheNamedSettingsPinsChangeAndUnlistedValuesAreKeptAndReportedAsNone) {
    // Code page value 10 (switch 2 pins 8..4 01010) and baud index 7 have no entry in the lists.
    const SwitchPins read = {"10101010", "01010100", "11110110"};
    const SwitchModel model = ModelFromPins(read);
    std::string error;
    const auto cutter = ParseAssignment("auto-cutter=partial", error);
    const auto page = ParseAssignment("code-page=PC858", error);
    ASSERT_TRUE(cutter && page) << error;

    EXPECT_EQ(PinsOnRead(read, PinsOfAssignments({*cutter}, model)),
              (SwitchPins{"22202222", "01010022", "11110112"}))
        << "the code page, the baud rate and every other pin as read";
    EXPECT_EQ(PinsOnRead(read, PinsOfAssignments({*page}, model)),
              (SwitchPins{"22202222", "01001122", "11110112"}));
    EXPECT_EQ(PinsOnRead(read, PinsOfAssignments({}, model)),
              (SwitchPins{"22202222", "01010122", "11110112"}));

    const SettingKey& codePage = *FindSettingKey("code-page");
    EXPECT_EQ(PinsValue(codePage, read), std::nullopt) << "not PC437";
    EXPECT_EQ(PinsValue(*FindSettingKey("baud-rate"), read), std::nullopt);
    EXPECT_EQ(PinsValue(codePage, {"00000000", "01001100", "00000000"}), "PC858");
    EXPECT_EQ(PinsValue(codePage, {"00000000", "00000100", "00000000"}), "PC437");
    const Json settings = SettingsJson(read);
    EXPECT_TRUE(settings["code-page"].is_null()) << settings;
    EXPECT_EQ(settings["auto-cutter"], "full");
}

TEST(CliTables, SettingsNotTakenNameEachSettingOnce) {
    const SwitchPins written = {"22212222", "11010122", "00101102"};
    EXPECT_TRUE(SettingsNotTaken(written, {"00010000", "11010111", "00101101"}).empty())
        << "pins written '2' are not compared";
    EXPECT_EQ(SettingsNotTaken(written, {"00000000", "11010111", "00101101"}),
              std::vector<std::string>{"auto-line-feed"});
    EXPECT_EQ(SettingsNotTaken(written, {"00010000", "01000000", "10101001"}),
              (std::vector<std::string>{"baud-rate", "parity", "auto-cutter", "code-page"}))
        << "in display order";
    EXPECT_EQ(SettingsNotTaken(written, {"", "", ""}).size(), 7u) << "nothing read: nothing took";
}

TEST(CliTables, LineSettingsAfterWritingSwitch9) {
    const LineOptions now{9600, 8, 0, 2};
    EXPECT_EQ(LineAfterWrite({"", "", "00101102"}, now), (LineOptions{19200, 8, 2, 2})) << "stop bits stay";
    EXPECT_EQ(LineAfterWrite({"", "", "10000012"}, now), (LineOptions{115200, 7, 0, 2}));
    EXPECT_EQ(LineAfterWrite({"", "", "11001002"}, now), (LineOptions{9600, 8, 1, 2}))
        << "pins 8 and 7 give no listed rate: the speed stays";
    EXPECT_EQ(LineAfterWrite({"", "", "22222222"}, now), now);
}

TEST(CliTables, PortJsonOfAGetAndOfAFailure) {
    PortResult r;
    r.port = "COM2";
    r.haveState = true;
    r.firmware = "2.10";
    r.maker = "MERIDOX";
    r.model = "LTX-582";
    r.pins = {"00010000", "01000100", "10101100"};
    r.state = ModelFromPins(r.pins);
    const std::string expected =
        R"({"port":"COM2","firmware":"2.10","maker":"MERIDOX","model":"LTX-582","settings":{"baud-rate":null,)"
        R"("data-bits":8,"parity":"even","flow-control":"dtr-dsr","auto-cutter":"full","auto-line-feed":true,)"
        R"("code-page":"PC852"},"switches":{"1":"00010000","2":"01000100","9":"10101100"}})";
    EXPECT_EQ(PortJson(r, Command::Get).dump(), expected);

    PortResult f;
    f.port = "USB";
    f.exit = 3;
    f.error = "Read Error";
    const Json both = Json::parse(RenderJson({r, f}, Command::Get));
    ASSERT_TRUE(both.is_array()) << "several ports: an array";
    EXPECT_EQ(both[0].dump(), expected) << "keys in their fixed order";
    EXPECT_EQ(Json::parse(RenderJson({r}, Command::Get)).dump(), expected) << "one port: the object alone";
    EXPECT_EQ(PortJson(f, Command::Get).dump(), R"({"port":"USB","error":"Read Error","exit":3})");
    EXPECT_EQ(RenderText({f}, Command::Check), "port: USB\nerror: Read Error\nexit: 3\n");
}

} // namespace
