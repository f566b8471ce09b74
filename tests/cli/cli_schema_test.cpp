// The JSON Schema of pinwright-cli's output (docs/pinwright-cli.schema.json) against the CLI's own table of
// settings, rendered as the output renders them: a key or value added to one and not the other fails here.
#include "cli/render.h"
#include "cli/settings_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

using namespace pw;
using namespace pw::cli;

namespace {

// A value of the output (ordered, as written) as plain JSON.
nlohmann::json Plain(const Json& value) {
    return nlohmann::json::parse(value.dump());
}

nlohmann::json Schema() {
    std::ifstream in(PINWRIGHT_CLI_SCHEMA_PATH);
    return nlohmann::json::parse(in);
}

TEST(CliSchema, SettingsAndTheirValuesAreTheCliTableAsTheOutputWritesThem) {
    const nlohmann::json schema = Schema();
    const nlohmann::json& settings = schema["$defs"]["settings"];
    std::vector<std::string> keys;
    for (const SettingKey& key : SettingKeys()) {
        keys.push_back(key.key);
        const nlohmann::json& property = settings["properties"][key.key];
        ASSERT_TRUE(property.is_object()) << "the schema lacks " << key.key;
        // Every value as the output writes it: the model with that selection, through the renderer.
        nlohmann::json rendered = nlohmann::json::array();
        for (std::size_t i = 0; i < key.values.size(); ++i) {
            SwitchModel m;
            m.*(key.selection) = static_cast<int>(i);
            rendered.push_back(Plain(SettingsJson(m)[key.key]));
        }
        if (property.contains("enum")) {
            nlohmann::json listed = property["enum"];
            if (std::string(key.key) == "baud-rate") {
                // No listed rate for the pins: null.
                SwitchModel m;
                m.m_nBaudSel = -1;
                EXPECT_TRUE(SettingsJson(m)["baud-rate"].is_null());
                rendered.push_back(nullptr);
            }
            if (std::string(key.key) == "code-page") {
                // Code page value 31 (switch 2 pins 8 to 4 on) has no entry: null.
                const SwitchPins pins = {"00000000", "11111000", "00000000"};
                EXPECT_TRUE(SettingsJson(pins)["code-page"].is_null());
                rendered.push_back(nullptr);
            }
            EXPECT_EQ(listed, rendered) << key.key;
        } else {
            EXPECT_EQ(property["type"], "boolean") << key.key;
            for (const auto& v : rendered) EXPECT_TRUE(v.is_boolean()) << key.key << ": " << v;
        }
    }
    EXPECT_EQ(settings["required"], nlohmann::json(keys));
    EXPECT_EQ(settings["properties"].size(), keys.size());
    EXPECT_EQ(schema["$defs"]["setting-key"]["enum"], nlohmann::json(keys))
        << "not-taken and changes name them";
}

// The EXIT STATUS section of the man page: each ".B N" entry and each "N for SIGNAME" of its stops.
std::set<int> ManPageExitCodes() {
    std::ifstream in(PINWRIGHT_CLI_MAN_PATH);
    std::set<int> codes;
    bool inSection = false;
    const std::regex entry(R"(^\.B (\d+)$)"), signal(R"((\d{3}) for SIG)");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH ", 0) == 0) inSection = line == ".SH EXIT STATUS";
        if (!inSection) continue;
        std::smatch m;
        if (std::regex_match(line, m, entry)) codes.insert(std::stoi(m[1]));
        for (auto it = std::sregex_iterator(line.begin(), line.end(), signal); it != std::sregex_iterator();
             ++it)
            codes.insert(std::stoi((*it)[1]));
    }
    return codes;
}

TEST(CliSchema, EveryExitStatusOfTheManPageButZeroIsAPortsExitInTheSchema) {
    std::set<int> listed = ManPageExitCodes();
    ASSERT_TRUE(listed.count(0) && listed.count(4) && listed.count(130)) << "the man page was read";
    listed.erase(0); // a port that succeeded has no "exit"
    std::set<int> schema;
    const nlohmann::json whole = Schema();
    for (const auto& code : whole["$defs"]["result"]["properties"]["exit"]["enum"])
        schema.insert(code.get<int>());
    EXPECT_EQ(schema, listed);
    EXPECT_TRUE(listed.count(129) && listed.count(141) && listed.count(143));
}

TEST(CliSchema, WrittenIsEveryPhaseTheOutputWrites) {
    const nlohmann::json whole = Schema();
    const nlohmann::json& written = whole["$defs"]["write-result"]["properties"]["written"];
    nlohmann::json rendered = nlohmann::json::array();
    for (Written w : {Written::No, Written::Partly, Written::Yes}) {
        PortResult r;
        r.port = "COM1";
        r.written = w;
        rendered.push_back(Plain(PortJson(r, Command::Set)["written"]));
    }
    EXPECT_EQ(written["enum"], rendered);
}

} // namespace
