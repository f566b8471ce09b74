// Backup files: a name for every kind of port that is a plain file name of its own, and a file that is the
// settings as given, never written over nor through a link, also when many are made in the same second.
#include "cli/backup.h"
#include "settings/status_file.h"
#include "tests/settings/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <thread>

using namespace pw;
using namespace pw::cli;

namespace {

constexpr std::time_t kWhen = 1796724900; // 2026-12-08 10:15:00 UTC

TEST(CliBackup, NamesArePlainFileNamesOfThePortAndTheUtcTime) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "COM1-4e9510dd-20261208T101500Z.sts"},
        {"/dev/ttyUSB0", "ttyUSB0-09dc2083-20261208T101500Z.sts"},
        {"\\\\.\\COM12", "COM12-5845bbef-20261208T101500Z.sts"},
        {"tcp://192.168.1.50:9100", "tcp-192.168.1.50-9100-3a46e7a7-20261208T101500Z.sts"},
        {"tcp://[fe80::1]:9100", "tcp-fe80--1-9100-9824cf5e-20261208T101500Z.sts"},
        {"USB", "USB-996bda81-20261208T101500Z.sts"},
        {"/dev/odd name\x1b[31m", "odd_name__31m-5c3c425f-20261208T101500Z.sts"},
        {"/dev/..", "port-86dd76da-20261208T101500Z.sts"},
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
    EXPECT_EQ(std::filesystem::path(first).filename(), "tcp-10.0.0.7-9100-4eb5674e-20261208T101500Z.sts");
    const std::string second = WriteBackup(folder, "tcp://10.0.0.7:9100", SwitchModel{}, kWhen, error);
    EXPECT_EQ(std::filesystem::path(second).filename(), "tcp-10.0.0.7-9100-4eb5674e-20261208T101500Z-2.sts");

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

std::vector<std::uint8_t> BytesOf(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(ReadStatusFile(path, bytes, error)) << error;
    return bytes;
}

std::vector<std::uint8_t> Encoded(const SwitchModel& m) {
    const auto bytes = EncodeStatus(m);
    return {bytes.begin(), bytes.end()};
}

// A model that tells which port it was saved for: the baud rate selection is the port's number.
SwitchModel Numbered(int n) {
    SwitchModel m;
    m.m_nBaudSel = n;
    return m;
}

TEST(CliBackup, PortsWhoseNamesAgreeInTheirFirstSeventyCharactersGetFilesOfTheirOwn) {
    const std::string common = "/dev/serial/by-path/" + std::string(70, 'a');
    const std::string one = common + "-port0", two = common + "-port1";
    EXPECT_NE(BackupName(one, kWhen), BackupName(two, kWhen));
    // Names that are the same once their odd characters are made plain differ too.
    EXPECT_NE(BackupName("/dev/odd name", kWhen), BackupName("/dev/odd_name", kWhen));
    EXPECT_NE(BackupName("/dev/ttyUSB0", kWhen), BackupName("/dev/serial/ttyUSB0", kWhen));
    EXPECT_LE(BackupName(one, kWhen).size(), 80u);

    pw::test::TempDir dir;
    std::string error;
    const std::string first = WriteBackup(dir.path.string(), one, Numbered(1), kWhen, error);
    const std::string second = WriteBackup(dir.path.string(), two, Numbered(2), kWhen, error);
    ASSERT_FALSE(first.empty() || second.empty()) << error;
    EXPECT_NE(first, second);
    EXPECT_EQ(BytesOf(first), Encoded(Numbered(1)));
    EXPECT_EQ(BytesOf(second), Encoded(Numbered(2)));
}

TEST(CliBackup, ManyBackupsOfOnePortInOneSecondEachGetAFileOfTheirOwn) {
    pw::test::TempDir dir;
    constexpr int kAtOnce = 8;
    std::vector<std::string> paths(kAtOnce), errors(kAtOnce);
    std::vector<std::thread> threads;
    for (int i = 0; i < kAtOnce; ++i)
        threads.emplace_back([&, i] {
            paths[i] = WriteBackup(dir.path.string(), "/dev/ttyUSB0", Numbered(i % 9), kWhen, errors[i]);
        });
    for (auto& t : threads) t.join();
    const std::set<std::string> distinct(paths.begin(), paths.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kAtOnce));
    for (int i = 0; i < kAtOnce; ++i) {
        ASSERT_FALSE(paths[i].empty()) << errors[i];
        EXPECT_EQ(BytesOf(paths[i]), Encoded(Numbered(i % 9))) << paths[i];
    }
    // Nothing beside them: no temporary file was left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), kAtOnce);
}

TEST(CliBackup, WhenEveryNameIsTakenItIsAnErrorAndNothingIsWrittenOver) {
    pw::test::TempDir dir;
    const std::string name = BackupName("COM1", kWhen);
    const std::string stem = name.substr(0, name.size() - 4);
    std::ofstream(dir.path / name) << "kept";
    for (int n = 2; n <= 999; ++n)
        std::ofstream(dir.path / (stem + "-" + std::to_string(n) + ".sts")) << "kept";
    std::string error;
    EXPECT_TRUE(WriteBackup(dir.path.string(), "COM1", SwitchModel{}, kWhen, error).empty());
    EXPECT_NE(error.find("all taken"), std::string::npos) << error;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 999);
    std::ifstream last(dir.path / (stem + "-999.sts"));
    std::string text;
    last >> text;
    EXPECT_EQ(text, "kept");
}

#ifndef _WIN32
// Someone who may write in the folder plants links at the names a backup will take: the backup never
// lands where they lead.
TEST(CliBackup, ALinkAtTheNameIsNeverFollowedNorReplaced) {
    pw::test::TempDir dir;
    namespace fs = std::filesystem;
    const fs::path elsewhere = dir.path / "elsewhere";
    fs::create_directories(elsewhere);
    const std::string name = BackupName("/dev/ttyUSB0", kWhen);
    const fs::path planted = dir.path / "backups" / name;
    fs::create_directories(planted.parent_path());
    fs::create_symlink(elsewhere / "caught.sts", planted);
    const std::string stem = name.substr(0, name.size() - 4);
    const fs::path second = dir.path / "backups" / (stem + "-2.sts");
    std::ofstream(elsewhere / "kept.sts") << "kept";
    fs::create_symlink(elsewhere / "kept.sts", second);

    std::string error;
    const std::string path =
        WriteBackup((dir.path / "backups").string(), "/dev/ttyUSB0", Numbered(3), kWhen, error);
    ASSERT_FALSE(path.empty()) << error;
    EXPECT_EQ(fs::path(path).filename(), stem + "-3.sts");
    EXPECT_EQ(BytesOf(path), Encoded(Numbered(3)));
    EXPECT_FALSE(fs::exists(elsewhere / "caught.sts")) << "the dangling link was followed";
    EXPECT_TRUE(fs::is_symlink(planted));
    EXPECT_TRUE(fs::is_symlink(second));
    std::ifstream kept(elsewhere / "kept.sts");
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "kept") << "the file a link leads to was written over";
}
#endif

} // namespace
