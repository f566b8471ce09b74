// The bytes pinwright-cli sends, command by command and on every kind of port, against traces recorded
// before its waits followed the printer's replies: the same bytes in the same order, but for the DLE EOT 1
// queries with which it now waits for the printer's restart after user setting mode. Recorded again with
// PINWRIGHT_RECORD_TRACES=1 (and then looked at, line by line, before they are committed).
#include "tests/support/cli_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace pw::test;
namespace fs = std::filesystem;

namespace {

const std::string kSetupOut = "1D 28 45 04 00 02 4F 55 54";
const std::string kRestartPoll = "10 04 01";

// What went out, one transfer a line, as the trace file has it ("... PORT -> 1B 40").
std::vector<std::string> Sent(const std::string& traceFile) {
    std::ifstream in(traceFile);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (const std::size_t at = line.find(" -> "); at != std::string::npos)
            out.push_back(line.substr(at + 4));
    return out;
}

// The DLE EOT 1 queries after the end of user setting mode and before the next other command are the
// wait for the restart.
std::vector<std::string> WithoutRestartPolls(const std::vector<std::string>& sent) {
    std::vector<std::string> out;
    bool afterSetupOut = false;
    for (const std::string& s : sent) {
        if (afterSetupOut && s == kRestartPoll) continue;
        afterSetupOut = s == kSetupOut || (afterSetupOut && s == "1B 3D 01");
        out.push_back(s);
    }
    return out;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

class CliTraces : public CliFixture, public ::testing::WithParamInterface<std::string> {};

TEST_P(CliTraces, EveryCommandSendsTheBytesItSentBeforeButTheRestartPolls) {
    const std::string kind = GetParam();
    const bool record = std::getenv("PINWRIGHT_RECORD_TRACES") != nullptr;
    const std::string usbDir = Path("usb");
    std::map<std::string, std::string> env;
    if (kind == "usb") env["PINWRIGHT_USB_DIR"] = usbDir;
    // A file to apply: the settings of a printer with another cutter and code page.
    auto other = Sim("other", {"--switch", "2=00011110"});
    ASSERT_EQ(RunCli({"-p", PortOf(*other), "--baud", "115200", "get", "-o", Path("other.sts")}).exit, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"check"}, {"get"}, {"set", "auto-cutter=partial"}, {"apply", Path("other.sts")}, {"status"}};
    for (const auto& command : commands) {
        std::vector<std::string> extra;
        if (kind == "usb") extra = {"--usb-dir", usbDir};
        auto sim = Sim(command[0] + kind, extra, kind == "tcp" ? Link::Network : Link::Serial);
        std::vector<std::string> args = {"--trace", Path("trace"), "-p",
                                         kind == "usb" ? "USB" : PortOf(*sim)};
        if (kind == "pty") args.insert(args.end(), {"--baud", "115200"});
        args.insert(args.end(), command.begin(), command.end());
        const CliRun run = RunCli(args, 60000, env);
        ASSERT_EQ(run.exit, 0) << kind << " " << command[0] << "\n" << run.err;
        const std::string golden = std::string(PINWRIGHT_TRACES_DIR) + "/" + kind + "-" + command[0] + ".txt";
        const std::vector<std::string> sent = Sent(Path("trace"));
        if (record) {
            std::ofstream(golden) << Joined(sent);
            continue;
        }
        std::ifstream in(golden);
        std::stringstream before;
        before << in.rdbuf();
        EXPECT_EQ(Joined(WithoutRestartPolls(sent)), before.str()) << kind << " " << command[0];
        if (command[0] == "set" || command[0] == "apply") {
            const auto polls = sent.size() - WithoutRestartPolls(sent).size();
            EXPECT_GE(polls, 1u) << kind << " " << command[0] << ": the restart is waited for by asking";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliTraces, ::testing::Values("pty", "tcp", "usb"));

} // namespace
