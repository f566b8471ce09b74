#include "tests/support/cli_fixture.h"

#include "settings/status_file.h"

#include <unistd.h>

namespace pw::test {

namespace fs = std::filesystem;

void CliFixture::SetUp() {
    // A parameterized test's name ends in "/Param": no part of a file name.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
        if (c == '/') c = '-';
    dir = fs::temp_directory_path() / ("pw-cli-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
}

void CliFixture::TearDown() {
    fs::remove_all(dir);
}

void PrintTo(Link link, std::ostream* os) {
    *os << (link == Link::Serial ? "serial" : "network");
}

std::string CliFixture::Path(const std::string& name) const {
    return (dir / name).string();
}

std::unique_ptr<SimProcess> CliFixture::Sim(const std::string& name, std::vector<std::string> extra,
                                            Link link) {
    std::vector<std::string> args = {"--state", Path(name + ".state"), "--trace"};
    if (link == Link::Network) args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<SimProcess>(args, true);
}

std::string CliFixture::PortOf(const SimProcess& sim) {
    return sim.NetworkName().empty() ? sim.PtyPath() : sim.NetworkName();
}

std::string CliFixture::Switches(const std::string& name) const {
    return ReadWhole(Path(name + ".state"));
}

std::string CliFixture::DefaultsFile() {
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    EXPECT_TRUE(SaveStatusFile(Path("defaults.sts"), m, error)) << error;
    return Path("defaults.sts");
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void ExpectSettingModeLeft(const std::string& simLog) {
    std::size_t at = 0, entered = 0;
    while ((at = simLog.find("-- user setting mode", at)) != std::string::npos) {
        ++entered;
        at = simLog.find("-- settings applied; printer reset", at);
        ASSERT_NE(at, std::string::npos) << "left in user setting mode:\n" << simLog;
    }
    EXPECT_GE(entered, 1u) << simLog;
    EXPECT_EQ(Count(simLog, "-- settings applied; printer reset"), entered) << simLog;
}

double SecondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace pw::test
