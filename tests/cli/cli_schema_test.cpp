// The JSON Schema of pinwright-cli's output (docs/pinwright-cli.schema.json) against the CLI's own table of
// settings, rendered as the output renders them: a key or value added to one and not the other fails here.
#include "cli/render.h"
#include "cli/settings_table.h"

#include <gtest/gtest.h>

#include <fstream>

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

} // namespace
