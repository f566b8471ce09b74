// The communication dialog on the Linux backend against pinwright-sim over a real pseudo-terminal.
#include "dialogs/comm_dlg.h"

#include "res/resource.h"
#include "tests/support/dialog_test.h"
#include "tests/support/sim_process.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace pw;
using namespace pw::test;

namespace {

class CommEndToEnd : public ::testing::Test {
  protected:
    MessageRecorder messages;
    void TearDown() override {
        ClearModalHandlers();
        ::unsetenv("PINWRIGHT_COM1");
    }
    // Checks communication on COM1 at 115200 baud, then runs `then` while the dialog is up.
    void Check(SimProcess& sim, std::function<void(CCommDlg&)> then = {}) {
        ::setenv("PINWRIGHT_COM1", sim.PtyPath().c_str(), 1);
        CCommDlg dlg;
        PushModalHandler([&](CDialog&) {
            Choose(dlg, IDC_COMM_BAUD, 4);
            Click(dlg, IDC_CHECK_COMM);
            if (then) then(dlg);
        });
        dlg.DoModal();
        dlg.m_port.Close();
    }
};

TEST_F(CommEndToEnd, CheckOnCom1SucceedsAndSelfTestOneReachesThePrinter) {
    static constexpr const char* kSelfTestTrace = "self test: printer status print";
    SimProcess sim({"--trace"}, true);
    Check(sim, [&](CCommDlg& dlg) {
        ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Printer is connected."});
        Click(dlg, IDC_SELF_TEST1);
        // The command has been written; the printer says when it has read it.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (sim.Stderr().find(kSelfTestTrace) == std::string::npos &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    sim.Stop();
    EXPECT_NE(sim.Stderr().find(kSelfTestTrace), std::string::npos) << sim.Stderr();
}

TEST_F(CommEndToEnd, SilentPrinterGetsTheInformationMessage) {
    SimProcess sim({"--fault", "silent"});
    auto t = std::chrono::steady_clock::now();
    Check(sim);
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - t).count();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0],
              (ShownMessage{"Can't connect printer. Please restart printer.", MB_ICONINFORMATION, {}}));
    // Eleven serial reads of up to 5 s each, with the waits between them.
    EXPECT_LT(seconds, 75);
}

TEST_F(CommEndToEnd, MissingDeviceSaysWhichDevice) {
    ::setenv("PINWRIGHT_COM1", "/nonexistent/pinwright-tty", 1);
    CCommDlg dlg;
    PushModalHandler([&](CDialog&) { Click(dlg, IDC_CHECK_COMM); });
    dlg.DoModal();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Can't open port and Printer is disconnected");
    EXPECT_NE(messages.shown[0].detail.find("/nonexistent/pinwright-tty"), std::string::npos);
}

// A port this user may not open (tests/as_user.sh gives the unprivileged run a root:dialout 0660 file; root
// may open anything): its tooltip says so, which group may, and how to join it.
TEST_F(CommEndToEnd, TooltipOfAPortThisUserMayNotOpenNamesTheGroupThatMay) {
    const char* device = std::getenv("PINWRIGHT_TEST_DIALOUT_DEVICE");
    if (::geteuid() == 0 || !device)
        GTEST_SKIP() << "for an ordinary user given PINWRIGHT_TEST_DIALOUT_DEVICE";
    ::setenv("PINWRIGHT_COM1", device, 1);
    CCommDlg dlg;
    PushModalHandler([&](CDialog&) {
        EXPECT_EQ(ToolTip(dlg, IDC_COM_PORT), std::string("COM1: ") + device +
                                                  ". You have no permission to open " + device +
                                                  ": group dialout has, join it with: sudo usermod -aG "
                                                  "dialout \"$USER\", then log in again.");
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
}

} // namespace
