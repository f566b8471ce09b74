#include "settings/status_file.h"

#include "tests/settings/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace pw;
using pw::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Le(std::initializer_list<std::int32_t> fields) {
    std::vector<std::uint8_t> b;
    for (auto v : fields)
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return b;
}

std::vector<std::uint8_t> Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(StatusFile, DefaultsEncodeToTheKnownBytes) {
    SwitchModel m;
    m.m_sw2[0] = 1; // pin 1 of each switch is kept as it was
    InitializeDefaults(m);
    const auto bytes = EncodeStatus(m);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
              Le({1, 0, 0, 0, 0, 0, 0, /*sw9*/ 0, 0, 0, 0, 0, 0, 0, 1, /*sel*/ 4, 1, 0, 0, 0, 0, 0}));
}

TEST(StatusFile, DecodeRoundTripsAndSetsTheCutterPin) {
    SwitchModel m;
    m.m_sw2[5] = 1;
    m.m_sw9[3] = 1;
    m.m_nBaudSel = 2, m.m_nParitySel = 1, m.m_nCodePageSel = 18, m.m_nCutterSel = 1, m.m_nAutoFeedSel = -1;
    const auto bytes = EncodeStatus(m);
    SwitchModel back;
    ASSERT_TRUE(DecodeStatus({bytes.begin(), bytes.end()}, back));
    EXPECT_EQ(back.m_sw2[5], 1);
    EXPECT_EQ(back.m_sw2[2], 1) << "pin 3 follows the loaded cutter selection";
    EXPECT_EQ(back.m_sw9[3], 1);
    EXPECT_EQ(back.m_nCodePageSel, 18);
    EXPECT_EQ(back.m_nAutoFeedSel, -1);
}

TEST(StatusFile, RefusesWrongSizesAndValuesLeavingTheModelAlone) {
    SwitchModel good;
    InitializeDefaults(good);
    auto bytes = EncodeStatus(good);
    std::vector<std::uint8_t> ok(bytes.begin(), bytes.end());
    SwitchModel m;
    m.m_nBaudSel = 3;
    const SwitchModel before = m;
    auto refused = [&](std::vector<std::uint8_t> b, const char* why) {
        EXPECT_FALSE(DecodeStatus(b, m)) << why;
        EXPECT_EQ(m, before) << why;
    };
    refused({}, "empty");
    refused(std::vector<std::uint8_t>(ok.begin(), ok.end() - 1), "87 bytes");
    auto longer = ok;
    longer.push_back(0);
    refused(longer, "89 bytes");
    auto pin = ok;
    pin[4] = 2;
    refused(pin, "pin 2");
    auto sel = ok;
    sel[60] = 5; // baud 5: no such entry
    refused(sel, "baud 5");
    auto neg = ok;
    neg[84] = 0xFE, neg[85] = neg[86] = neg[87] = 0xFF; // code page -2
    refused(neg, "code page -2");
    auto cp = ok;
    cp[84] = 19;
    refused(cp, "code page 19");
    auto none = ok;
    none[84] = none[85] = none[86] = none[87] = 0xFF; // -1: no selection is fine
    EXPECT_TRUE(DecodeStatus(none, m));
}

TEST(StatusFile, SaveReplacesTheFileWholeAndReadsBack) {
    TempDir t;
    const fs::path file = t.path / "shop.sts";
    std::ofstream(file)
        << "old contents that are longer than eighty-eight bytes ..............................";
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    ASSERT_TRUE(SaveStatusFile(file.string(), m, error)) << error;
    EXPECT_EQ(Slurp(file).size(), 88u);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadStatusFile(file.string(), bytes, error));
    EXPECT_EQ(bytes.size(), 88u);
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), fs::directory_iterator{}), 1)
        << "no temporary left";
}

// Names come from the file dialogs in UTF-8, whatever the system's code page.
TEST(StatusFile, NamesOutsideAsciiAreKept) {
    TempDir t;
    const fs::path file = t.path / fs::path(u8"Größe 5 €.sts");
    const std::u8string name = file.u8string();
    const std::string utf8(name.begin(), name.end());
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    ASSERT_TRUE(SaveStatusFile(utf8, m, error)) << error;
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 88u);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadStatusFile(utf8, bytes, error)) << error;
    const auto expected = EncodeStatus(m);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()));
}

TEST(StatusFile, FoldersAndMissingFilesAreRefusedWithTheirName) {
    TempDir t;
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    fs::create_directories(t.path / "dir.sts");
    EXPECT_FALSE(SaveStatusFile((t.path / "dir.sts").string(), m, error));
    EXPECT_NE(error.find("dir.sts"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(t.path / "dir.sts"));
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(ReadStatusFile((t.path / "missing.sts").string(), bytes, error));
    EXPECT_NE(error.find("missing.sts"), std::string::npos) << error;
    EXPECT_FALSE(ReadStatusFile((t.path / "dir.sts").string(), bytes, error)) << "a folder";
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), fs::directory_iterator{}), 1)
        << "no temporary left";
}

} // namespace
