// Enter in the program's dialogs, as the dialog manager takes it: the focused push button, otherwise the
// enabled default button, otherwise (no default button) the OK command; and the focus never moves onto a
// push button by itself. Each case says what reached the printer and whether the dialog stayed open. The
// same cases run on the Qt backend (Linux) and on the Win32 backend (under wine).
#include "dialogs/comm_dlg.h"
#include "dialogs/switch_dlg.h"
#include "res/resource.h"
#include "tests/support/backend_driver.h"
#include "tests/support/recorders.h"
#include "tests/support/scripted_printer.h"

#include <gtest/gtest.h>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kSelfTest1 = {0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02};

// Counts how the dialog was ended by its OK and Cancel commands.
template <class D> class Recording : public D {
  public:
    using D::D;
    int oks = 0, cancels = 0;

  protected:
    void OnOK() override {
        ++oks;
        D::OnOK();
    }
    void OnCancel() override {
        ++cancels;
        D::OnCancel();
    }
};

bool EnabledItem(CDialog& dlg, int id) {
    CWnd* w = dlg.GetDlgItem(id);
    return w && w->IsWindowEnabled();
}

class Keyboard : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice& com1 = os.AddDevice("COM1");
    ScriptedPrinter printer{os, com1};
    MessageRecorder messages;

    void SetUp() override {
        os.workersDriveClock = true; // the sequences run on a worker while this thread runs the window
        AnswerAsLtx580(printer);
    }
    void TearDown() override {
        EXPECT_EQ(PendingModalHandlers(), 0u) << "a dialog the test expected did not run";
        ClearModalHandlers();
    }
    // The main dialog after a check and "Run Manager", with `steps` as the user's actions.
    int RunMain(Recording<CSwitchDlg>& dlg, std::function<void()> steps) {
        PushModalHandler([&](CDialog&) {
            Click(dlg.m_commDlg, IDC_CHECK_COMM);
            Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        });
        PushModalHandler([this, steps](CDialog&) {
            messages.shown.clear();
            printer.commands.clear();
            steps();
        });
        return dlg.DoModal();
    }
};

TEST_F(Keyboard, EnterOnChangeCommTypeOpensTheCommunicationDialogAndTheMainDialogStays) {
    Recording<CSwitchDlg> dlg(os);
    bool commShown = false;
    const int result = RunMain(dlg, [&] {
        EXPECT_EQ(FocusedControl(dlg), IDC_CHANGE_COMM) << "the first control with a tab stop";
        Focus(dlg, IDC_CHANGE_COMM);
        PushModalHandler([&](CDialog& comm) {
            commShown = &comm == &dlg.m_commDlg;
            PressEscape(comm);
        });
        PressEnter(dlg);
        EXPECT_TRUE(commShown);
        EXPECT_EQ(dlg.oks + dlg.cancels, 0) << "the main dialog stays open";
        EXPECT_FALSE(EnabledItem(dlg, IDC_GET_STATUS)) << "the communication dialog was cancelled";
        EXPECT_TRUE(printer.commands.empty());
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(Keyboard, EnterOnGetStatusReadsThePrinterAndTheFocusStaysThere) {
    Recording<CSwitchDlg> dlg(os);
    RunMain(dlg, [&] {
        Focus(dlg, IDC_GET_STATUS);
        PressEnter(dlg);
        EXPECT_EQ(printer.Count(SwitchQuery(2)), 1);
        EXPECT_EQ(printer.Count(SwitchQuery(9)), 1);
        EXPECT_EQ(printer.Count(SwitchQuery(1)), 1);
        ASSERT_FALSE(messages.shown.empty());
        EXPECT_EQ(messages.Texts().back(), "Success to get status of printer.");
        EXPECT_EQ(dlg.oks + dlg.cancels, 0) << "the main dialog stays open";
        EXPECT_EQ(FocusedControl(dlg), IDC_GET_STATUS);

        PressEnter(dlg); // the focus is where it was: Enter reads again
        EXPECT_EQ(printer.Count(SwitchQuery(2)), 2);
        EXPECT_EQ(dlg.oks + dlg.cancels, 0);
    });
}

TEST_F(Keyboard, EnterWithAComboBoxFocusedIsTheMainDialogsOKCommand) {
    Recording<CSwitchDlg> dlg(os);
    const int result = RunMain(dlg, [&] {
        Click(dlg, IDC_GET_STATUS);
        const std::size_t sent = printer.commands.size();
        Focus(dlg, IDC_BAUD_RATE);
        PressEnter(dlg);
        EXPECT_EQ(printer.commands.size(), sent) << "nothing more reached the printer";
        EXPECT_EQ(dlg.oks, 1) << "no push button focused, no default button: the OK command";
    });
    EXPECT_EQ(result, IDOK);
}

TEST_F(Keyboard, AFailedGetStatusLeavesTheFocusOnNoPushButton) {
    Recording<CSwitchDlg> dlg(os);
    RunMain(dlg, [&] {
        printer.On(kGsModelId, [](int) { return std::optional<Answer>(); }); // the printer stops answering
        Focus(dlg, IDC_GET_STATUS);
        PressEnter(dlg);
        ASSERT_FALSE(messages.shown.empty());
        EXPECT_EQ(messages.Texts().back(), "Can't connect printer. Please restart printer.");
        EXPECT_FALSE(EnabledItem(dlg, IDC_GET_STATUS));
        const int focus = FocusedControl(dlg);
        EXPECT_NE(focus, IDC_CHANGE_COMM) << "Get Status was disabled: the focus went to no push button";
        EXPECT_NE(focus, IDC_EXIT);
        EXPECT_EQ(dlg.oks + dlg.cancels, 0);
    });
}

TEST_F(Keyboard, CommunicationDialogEnterChecksOnceThenNeitherPrintsNorCloses) {
    Recording<CCommDlg> dlg(os);
    const int result = [&] {
        PushModalHandler([&](CDialog&) {
            // The first tab stop: "Check Communication", or on Windows the checked radio button, which
            // the system makes a tab stop. Enter presses the default button either way.
            const int first = FocusedControl(dlg);
            EXPECT_TRUE(first == IDC_CHECK_COMM || first == IDC_INTERFACE_SERIAL) << first;
            PressEnter(dlg);
            ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Printer is connected."});
            EXPECT_FALSE(EnabledItem(dlg, IDC_CHECK_COMM));
            const int focus = FocusedControl(dlg);
            EXPECT_NE(focus, IDC_SELF_TEST1) << "the focus moved onto a push button by itself";
            EXPECT_NE(focus, IDC_SELF_TEST2);
            EXPECT_NE(focus, IDC_RUN_MANAGER);
            PressEnter(dlg);
            PressEnter(dlg);
            EXPECT_EQ(printer.Count(kSelfTest1), 0) << "no test page the user did not ask for";
            EXPECT_EQ(printer.Count(kGsModelId), 1) << "one check";
            EXPECT_EQ(dlg.oks + dlg.cancels, 0) << "the dialog stays open";

            Focus(dlg, IDC_SELF_TEST1); // the user's Tab
            PressEnter(dlg);
            EXPECT_EQ(printer.Count(kSelfTest1), 1) << "the focused button prints";
            EXPECT_EQ(dlg.oks + dlg.cancels, 0);
            Focus(dlg, IDC_RUN_MANAGER);
            PressEnter(dlg);
        });
        return dlg.DoModal();
    }();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(messages.shown.size(), 1u);
    dlg.m_port.Close();
}

TEST_F(Keyboard, CommunicationDialogEnterInAListChecksThroughTheDefaultButton) {
    Recording<CCommDlg> dlg(os);
    PushModalHandler([&](CDialog&) {
        Focus(dlg, IDC_COMM_BAUD);
        PressEnter(dlg);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Printer is connected."});
        EXPECT_EQ(printer.Count(kGsModelId), 1);
        EXPECT_EQ(FocusedControl(dlg), IDC_COMM_BAUD) << "the focus stays in the list";
        EXPECT_EQ(dlg.oks + dlg.cancels, 0);
    });
    dlg.DoModal();
    dlg.m_port.Close();
}

} // namespace
