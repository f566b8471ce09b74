// Status files on POSIX: saves through symbolic links and with the umask, failed saves (read-only
// folder, full disk) and odd things to read (devices, symlink loops, unreadable files), tried as an
// ordinary user where root would pass.
#include "settings/status_file.h"
#include "tests/settings/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pw;
using pw::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
