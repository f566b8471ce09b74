#include "settings/status_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pw;
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

struct TempDir {
    fs::path path =
        fs::temp_directory_path() / ("pw-sts-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { fs::create_directories(path); }
    ~TempDir() {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(path);
    }
};

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

TEST(StatusFile, SaveWritesThroughALinkAndGivesNewFilesTheUmaskMode) {
    TempDir t;
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    // A shop keeps its settings in one place and links to them.
    const fs::path target = t.path / "shared" / "settings.sts";
    fs::create_directories(target.parent_path());
    std::ofstream(target) << "OLD";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const fs::path link = t.path / "link.sts";
    fs::create_symlink(fs::path("shared") / "settings.sts", link);
    ASSERT_TRUE(SaveStatusFile(link.string(), m, error)) << error;
    EXPECT_TRUE(fs::is_symlink(link)) << "the link was replaced by a file";
    EXPECT_EQ(Slurp(target).size(), 88u);
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A dangling link gets its target created.
    const fs::path dangling = t.path / "dangling.sts";
    fs::create_symlink("made.sts", dangling);
    ASSERT_TRUE(SaveStatusFile(dangling.string(), m, error)) << error;
    EXPECT_EQ(Slurp(t.path / "made.sts").size(), 88u);
    // A new file has the mode any new file would have.
    const mode_t old = ::umask(027);
    ASSERT_TRUE(SaveStatusFile((t.path / "new.sts").string(), m, error)) << error;
    ::umask(old);
    EXPECT_EQ(fs::status(t.path / "new.sts").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(StatusFile, FailedSavesKeepTheOldFile) {
    TempDir t;
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    // A read-only folder.
    const fs::path file = t.path / "keep.sts";
    std::ofstream(file) << "OLD";
    fs::permissions(t.path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    {
        // Root writes anywhere, so the attempt runs as an ordinary user in a child process.
        pid_t child = ::fork();
        if (child == 0) {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
            std::string e;
            const bool saved = SaveStatusFile(file.string(), m, e);
            ::_exit(saved ? 1 : e.find("keep.sts") == std::string::npos ? 2 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << WEXITSTATUS(status);
        EXPECT_EQ(Slurp(file), (std::vector<std::uint8_t>{'O', 'L', 'D'}));
    }
    fs::permissions(t.path, fs::perms::owner_all, fs::perm_options::add);
    // A directory where the file should be.
    fs::create_directories(t.path / "dir.sts");
    EXPECT_FALSE(SaveStatusFile((t.path / "dir.sts").string(), m, error));
    EXPECT_TRUE(fs::is_directory(t.path / "dir.sts"));
    // A full disk: the write is refused past a file size limit.
    pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{10, 10};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        std::string e;
        ::_exit(SaveStatusFile(file.string(), m, e) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save must report the failure";
    EXPECT_EQ(Slurp(file), (std::vector<std::uint8_t>{'O', 'L', 'D'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), fs::directory_iterator{}), 2)
        << "no temporary left";
}

TEST(StatusFile, ReadingOddThingsFailsWithAReason) {
    TempDir t;
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(ReadStatusFile((t.path / "missing.sts").string(), bytes, error));
    EXPECT_NE(error.find("missing.sts"), std::string::npos);
    EXPECT_FALSE(ReadStatusFile(t.path.string(), bytes, error)) << "a directory";
    EXPECT_FALSE(ReadStatusFile("/dev/null", bytes, error)) << "a device";
    fs::create_symlink(t.path / "loop.sts", t.path / "loop.sts");
    EXPECT_FALSE(ReadStatusFile((t.path / "loop.sts").string(), bytes, error));
    std::ofstream(t.path / "empty.sts").close();
    ASSERT_TRUE(ReadStatusFile((t.path / "empty.sts").string(), bytes, error));
    SwitchModel m;
    EXPECT_FALSE(DecodeStatus(bytes, m)) << "an empty file is refused as a wrong format";
    std::ofstream(t.path / "secret.sts") << "x";
    fs::permissions(t.path / "secret.sts", fs::perms::none);
    pid_t child = ::fork();
    if (child == 0) { // root reads anything: try as an ordinary user
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        std::vector<std::uint8_t> b;
        std::string e;
        ::_exit(!ReadStatusFile((t.path / "secret.sts").string(), b, e) &&
                        e.find("secret.sts") != std::string::npos
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an unreadable file says which";
    {
        std::ofstream big(t.path / "big.sts", std::ios::binary);
        big << std::string(1 << 20, 'x');
    }
    ASSERT_TRUE(ReadStatusFile((t.path / "big.sts").string(), bytes, error));
    EXPECT_EQ(bytes.size(), 89u) << "reads only enough to tell it is too long";
}

} // namespace
