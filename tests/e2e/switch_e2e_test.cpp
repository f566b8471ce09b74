// The main dialog on the Linux backend against pinwright-sim over a real pseudo-terminal.
#include "dialogs/switch_dlg.h"

#include "res/resource.h"
#include "tests/support/dialog_test.h"
#include "tests/support/sim_process.h"

#include <QString>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

class SwitchEndToEnd : public ::testing::Test {
  protected:
    MessageRecorder messages;
    fs::path dir =
        fs::temp_directory_path() / ("pw-e2e-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        ClearModalHandlers();
        ::unsetenv("PINWRIGHT_COM1");
        fs::remove_all(dir);
    }
    // Connects on COM1 to the simulator and runs `steps` in the main dialog.
    void Run(SimProcess& sim, std::function<void(CSwitchDlg&)> steps) {
        Run(sim.PtyPath(), std::move(steps));
    }
    // The same with COM1 at `port` (a link that a new simulator may take over).
    void Run(const std::string& port, std::function<void(CSwitchDlg&)> steps) {
        ::setenv("PINWRIGHT_COM1", port.c_str(), 1);
        CSwitchDlg dlg;
        PushModalHandler([&](CDialog&) {
            Choose(dlg.m_commDlg, IDC_COMM_BAUD, 4);
            Click(dlg.m_commDlg, IDC_CHECK_COMM);
            Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        });
        PushModalHandler([&](CDialog&) {
            ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Printer is connected."});
            messages.shown.clear();
            steps(dlg);
        });
        dlg.DoModal();
    }
    std::string State() {
        std::ifstream in(dir / "printer.state");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

// The printer texts that must never act on a terminal, as the dialogs show them: plainly, byte for byte
// what the printer sent (a byte that is not UTF-8 as U+FFFD), never as markup.
TEST_F(SwitchEndToEnd, HostileIdentityTextsAreShownPlainly) {
    struct Case {
        std::vector<std::string> sim;
        std::string maker, model, firmware; // as the printer sends them
    };
    const std::vector<Case> cases = {
        {{"--maker", "ACM\\xe9"}, "ACM\xe9", "", "2.10 SIM"},
        {{"--maker", "MERIDOX\\x1b[2J\\x1b]0;owned\\x07"}, "MERIDOX\x1b[2J\x1b]0;owned\x07", "", "2.10 SIM"},
        {{"--model", "LTX-580\\x0aexit: 0"}, "MERIDOX", "LTX-580\nexit: 0", "2.10 SIM"},
        {{"--firmware", "2.10 \\xc3", "--model", "LTX-580 <b>\\xc2\\x9b2J\\xe2\\x80\\xae"},
         "MERIDOX",
         "LTX-580 <b>\xc2\x9b"
         "2J\xe2\x80\xae",
         "2.10 \xc3"},
    };
    const auto shown = [](const std::string& bytes) {
        return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())).toStdString();
    };
    for (const Case& c : cases) {
        SimProcess sim(c.sim);
        messages.shown.clear();
        Run(sim, [&](CSwitchDlg& dlg) {
            Click(dlg, IDC_GET_STATUS);
            const auto texts = messages.Texts();
            ASSERT_FALSE(texts.empty());
            EXPECT_EQ(texts.back(), "Success to get status of printer.");
            if (c.maker != "MERIDOX") {
                ASSERT_GE(texts.size(), 4u);
                EXPECT_EQ(texts[0], c.maker) << "the maker's own text in its box, as it came";
                EXPECT_EQ(texts[1], "This printer don't match our company name.");
            } else {
                EXPECT_EQ(texts.size(), 1u) << texts.front();
            }
            EXPECT_EQ(Text(dlg, IDC_MODEL), shown(c.model));
            EXPECT_EQ(Text(dlg, IDC_FIRMWARE), shown(c.firmware));
            EXPECT_TRUE(ShownAsPlainText(dlg, IDC_MODEL));
            EXPECT_TRUE(ShownAsPlainText(dlg, IDC_FIRMWARE));
        });
    }
}

TEST_F(SwitchEndToEnd, GetChangeSetAndGetAgain) {
    SimProcess sim({"--state", (dir / "printer.state").string()});
    Run(sim, [&](CSwitchDlg& dlg) {
        auto t = Clock::now();
        Click(dlg, IDC_GET_STATUS);
        const double firstGet = Seconds(t);
        ASSERT_EQ(messages.Texts().back(), "Success to get status of printer.");
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC850 (Multilingual)");
        EXPECT_EQ(Text(dlg, IDC_AUTO_CUTTER), "Full Cut");
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "115200");
        EXPECT_EQ(Text(dlg, IDC_MODEL), "LTX-580");

        Choose(dlg, IDC_CODE_PAGE, 18); // PC857 (Turkish)
        Choose(dlg, IDC_BAUD_RATE, 1);  // 19200
        Choose(dlg, IDC_PARITY, 2);     // Even
        t = Clock::now();
        Click(dlg, IDC_SET_STATUS);
        const double set = Seconds(t);
        ASSERT_EQ(messages.Texts().back(), "Success to set status of printer");

        Click(dlg, IDC_INIT_STATUS); // scramble the dialog, then read back from the printer
        t = Clock::now();
        Click(dlg, IDC_GET_STATUS);
        const double laterGet = Seconds(t);
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC857 (Turkish)");
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "19200");
        EXPECT_EQ(Text(dlg, IDC_PARITY), "Even");
        EXPECT_EQ(Text(dlg, IDC_AUTO_CUTTER), "Full Cut");
        std::printf("[ timing ] first Get Status %.3f s, Set Status %.3f s, later Get Status %.3f s\n",
                    firstGet, set, laterGet);
    });
    EXPECT_NE(State().find("switch 2 = 11010100"), std::string::npos) << State();
    EXPECT_NE(State().find("switch 9 = 00101100"), std::string::npos) << State();
}

TEST_F(SwitchEndToEnd, InitializeThenSetStatusWritesTheDefaults) {
    SimProcess sim({"--state", (dir / "printer.state").string(), "--switch", "2=11111111", "--switch",
                    "9=01111110", "--switch", "1=11111111"});
    Run(sim, [&](CSwitchDlg& dlg) {
        Click(dlg, IDC_GET_STATUS);
        Click(dlg, IDC_INIT_STATUS);
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.Texts().back(), "Success to set status of printer");
    });
    // Pins the tool leaves alone ('2') keep their values: switch 1 all but pin 5, switch 2 pins 1 and 2,
    // switch 9 pin 1.
    EXPECT_NE(State().find("switch 1 = 11101111"), std::string::npos) << State();
    EXPECT_NE(State().find("switch 2 = 00000011"), std::string::npos) << State();
    EXPECT_NE(State().find("switch 9 = 10000000"), std::string::npos) << State();
}

TEST_F(SwitchEndToEnd, StrayBytesBeforeTheSwitchTwoReplyAreSkipped) {
    SimProcess sim({"--fault", "stray=AA0021", "--switch", "2=01000100"});
    Run(sim, [&](CSwitchDlg& dlg) {
        Click(dlg, IDC_GET_STATUS);
        // The switch 9 and 1 replies get the same stray bytes, which they do not skip.
        EXPECT_EQ(messages.Texts().back(), kBadSwitchReply);
        EXPECT_EQ(Selection(dlg, IDC_CODE_PAGE), -1);
        EXPECT_TRUE(Enabled(dlg, IDC_GET_STATUS)) << "still usable";
    });
}

TEST_F(SwitchEndToEnd, GarbageAndShortRepliesAreRefused) {
    for (const char* fault : {"garbage", "short"}) {
        SimProcess sim({"--fault", fault});
        messages.shown.clear();
        Run(sim, [&](CSwitchDlg& dlg) {
            Click(dlg, IDC_GET_STATUS);
            EXPECT_EQ(messages.shown.size(), 1u) << fault;
            EXPECT_NE(messages.Texts().back(), "Success to get status of printer.") << fault;
            EXPECT_FALSE(Enabled(dlg, IDC_SET_STATUS)) << fault;
            EXPECT_TRUE(Enabled(dlg, IDC_GET_STATUS)) << fault;
        });
    }
}

TEST_F(SwitchEndToEnd, SilentAfterTheCheckSaysThePrinterDidNotAnswer) {
    // The printer answers the connection check's four commands, then falls silent.
    SimProcess sim({"--fault", "hangup-after=4"});
    Run(sim, [&](CSwitchDlg& dlg) {
        auto t = Clock::now();
        Click(dlg, IDC_GET_STATUS);
        EXPECT_LT(Seconds(t), 30.0);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.Texts().back(), "Success to get status of printer.");
        EXPECT_TRUE(Enabled(dlg, IDC_CHANGE_COMM));
        EXPECT_TRUE(Enabled(dlg, IDC_EXIT));
    });
}

TEST_F(SwitchEndToEnd, LineDropAtSetStatusIsReportedAndNothingIsApplied) {
    // Connection check 4 commands, Get Status 15; the line drops after the pre-check of Set Status, so the
    // printer never enters user setting mode.
    SimProcess sim({"--fault", "hangup-after=19", "--state", (dir / "printer.state").string()});
    Run(sim, [&](CSwitchDlg& dlg) {
        Click(dlg, IDC_GET_STATUS);
        ASSERT_EQ(messages.Texts().back(), "Success to get status of printer.");
        Choose(dlg, IDC_CODE_PAGE, 0);
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.Texts().back(), kPrinterDidNotAnswer);
        EXPECT_TRUE(Enabled(dlg, IDC_CHANGE_COMM));
    });
    EXPECT_EQ(State(), "") << "nothing was applied";
}

// A printer switched off in the middle of a sequence and on again: the user is told, nothing half-done
// shows or counts as success, and Change Comm Type with a new check brings everything back.
class PowerCycle : public SwitchEndToEnd {
  protected:
    std::string link = (dir / "tty").string();
    std::string state = (dir / "printer.state").string();
    std::unique_ptr<SimProcess> sim;
    void PowerOn(std::vector<std::string> faults = {}) {
        sim.reset();
        std::vector<std::string> args = {"--link", link, "--state", state};
        args.insert(args.end(), faults.begin(), faults.end());
        sim = std::make_unique<SimProcess>(args);
    }
    // Change Comm Type, and a new check at 115200 baud.
    void Reconnect(CSwitchDlg& dlg) {
        PushModalHandler([&](CDialog&) {
            Choose(dlg.m_commDlg, IDC_COMM_BAUD, 4);
            Click(dlg.m_commDlg, IDC_CHECK_COMM);
            ASSERT_EQ(messages.Texts().back(), "Printer is connected.");
            Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        });
        Click(dlg, IDC_CHANGE_COMM);
        EXPECT_TRUE(Enabled(dlg, IDC_GET_STATUS));
    }
};

TEST_F(PowerCycle, DuringGetStatus) {
    // The check takes 4 commands; the line drops once the switch 9 query of the first Get Status is answered.
    PowerOn({"--fault", "hangup-after=13"});
    Run(link, [&](CSwitchDlg& dlg) {
        Click(dlg, IDC_GET_STATUS);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{kPrinterDidNotAnswer});
        EXPECT_EQ(Selection(dlg, IDC_CODE_PAGE), -1) << "nothing half-read is shown";
        EXPECT_FALSE(Enabled(dlg, IDC_SET_STATUS));
        EXPECT_EQ(ProgressPos(dlg, IDC_PROGRESS), 0);
        PowerOn();
        Reconnect(dlg);
        messages.shown.clear();
        Click(dlg, IDC_GET_STATUS);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Success to get status of printer."});
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC850 (Multilingual)");
    });
}

TEST_F(PowerCycle, DuringSetStatus) {
    // Check 4, Get Status 11 (with identification), then Set Status: pre-check 4 and the mode notice;
    // the printer goes off while in user setting mode, before any change command reached it.
    PowerOn({"--fault", "hangup-after=20"});
    Run(link, [&](CSwitchDlg& dlg) {
        Click(dlg, IDC_GET_STATUS);
        ASSERT_EQ(messages.Texts().back(), "Success to get status of printer.");
        Choose(dlg, IDC_CODE_PAGE, 18);
        messages.shown.clear();
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{kPrinterDidNotAnswer});
        EXPECT_EQ(State(), "") << "a printer switched off in setting mode applies nothing";
        PowerOn();
        Reconnect(dlg);
        messages.shown.clear();
        Click(dlg, IDC_GET_STATUS);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Success to get status of printer."});
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC850 (Multilingual)") << "the printer kept its settings";
        Choose(dlg, IDC_CODE_PAGE, 18);
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.Texts().back(), "Success to set status of printer");
        EXPECT_NE(State().find("switch 2 = 11010100"), std::string::npos) << State();
    });
}

// Identity replies the printer leaves unanswered or malformed only warn: the switches are still read.
struct IdentityCase {
    const char* name;
    std::vector<std::string> simArgs;
    std::vector<std::string> messages; // before the success message
    std::string firmware;
};

class IdentityEndToEnd : public SwitchEndToEnd, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityEndToEnd, WarnsInOrderAndGetStatusSucceeds) {
    const IdentityCase& c = GetParam();
    SimProcess sim(c.simArgs);
    Run(sim, [&](CSwitchDlg& dlg) {
        Click(dlg, IDC_GET_STATUS);
        std::vector<std::string> expected = c.messages;
        expected.push_back("Success to get status of printer.");
        EXPECT_EQ(messages.Texts(), expected);
        EXPECT_EQ(Text(dlg, IDC_FIRMWARE), c.firmware);
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC850 (Multilingual)");
        EXPECT_TRUE(Enabled(dlg, IDC_SET_STATUS));
    });
}

const std::string kLongMaker(100, 'M');

INSTANTIATE_TEST_SUITE_P(
    Replies, IdentityEndToEnd,
    ::testing::Values(IdentityCase{"SilentFirmware", {"--fault", "info-silent=65"}, {}, ""},
                      IdentityCase{"SilentMaker",
                                   {"--fault", "info-silent=66"},
                                   {"", kCompanyMismatch, kOtherCompanyProduct},
                                   "2.10 SIM"},
                      IdentityCase{"TextsWithoutTheirNul", {"--fault", "info-no-nul"}, {}, "2.10 SIM"},
                      IdentityCase{
                          "MakerPastTheBound",
                          {"--maker", kLongMaker},
                          {std::string(kMaxIdentityText, 'M'), kCompanyMismatch, kOtherCompanyProduct},
                          "2.10 SIM"}),
    [](const ::testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.name); });

} // namespace
