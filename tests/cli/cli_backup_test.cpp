// Backup files: a name for every kind of port that is a plain file name, and a file that is the settings
// as given, never written over.
#include "cli/backup.h"
#include "settings/status_file.h"
#include "tests/settings/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace pw;
using namespace pw::cli;

namespace {

constexpr std::time_t kWhen = 1796724900; // 2026-12-08 10:15:00 UTC

TEST(CliBackup, NamesArePlainFileNamesOfThePortAndTheUtcTime) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "COM1-20261208T101500Z.sts"},
        {"/dev/ttyUSB0", "ttyUSB0-20261208T101500Z.sts"},
        {"\\\\.\\COM12", "COM12-20261208T101500Z.sts"},
        {"tcp://192.168.1.50:9100", "tcp-192.168.1.50-9100-20261208T101500Z.sts"},
        {"tcp://[fe80::1]:9100", "tcp-fe80--1-9100-20261208T101500Z.sts"},
        {"USB", "USB-20261208T101500Z.sts"},
        {"/dev/odd name\x1b[31m", "odd_name__31m-20261208T101500Z.sts"},
        {"/dev/..", "port-20261208T101500Z.sts"},
    };
    for (const auto& [port, name] : cases) EXPECT_EQ(BackupName(port, kWhen), name) << port;
}

TEST(CliBackup, ABackupIsTheSettingsAsGivenInANewFolderAndNeverReplacesAnEarlierOne) {
    pw::test::TempDir dir;
    SwitchModel m;
    m.m_nBaudSel = 2;
    m.m_nCodePageSel = -1;
    m.m_sw2[3] = 1;
    m.m_sw2[6] = 1; // a code page the table does not list
    m.m_sw9[1] = m.m_sw9[2] = m.m_sw9[3] = m.m_sw9[6] = 1;
    const std::string folder = (dir.path / "new" / "backups").string();
    std::string error;
    const std::string first = WriteBackup(folder, "tcp://10.0.0.7:9100", m, kWhen, error);
    ASSERT_FALSE(first.empty()) << error;
    EXPECT_EQ(std::filesystem::path(first).parent_path(), std::filesystem::path(folder));
    EXPECT_EQ(std::filesystem::path(first).filename(), "tcp-10.0.0.7-9100-20261208T101500Z.sts");
    const std::string second = WriteBackup(folder, "tcp://10.0.0.7:9100", SwitchModel{}, kWhen, error);
    EXPECT_EQ(std::filesystem::path(second).filename(), "tcp-10.0.0.7-9100-20261208T101500Z-2.sts");

    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ReadStatusFile(first, bytes, error)) << error;
    const auto expected = EncodeStatus(m);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(expected.begin(), expected.end())) << "the first is kept";
}

TEST(CliBackup, AFolderThatCannotBeMadeIsAnErrorThatNamesIt) {
    pw::test::TempDir dir;
    const std::string file = (dir.path / "plain").string();
    std::ofstream(file) << "x";
    std::string error;
    EXPECT_TRUE(WriteBackup(file, "COM1", SwitchModel{}, kWhen, error).empty());
    EXPECT_NE(error.find(file), std::string::npos) << error;
    EXPECT_TRUE(WriteBackup(file + "/below", "COM1", SwitchModel{}, kWhen, error).empty());
}

} // namespace
