// The dialogs' printer sequences run on a worker against the scripted printer on the virtual clock, while
// the window keeps its event loop: the loop runs during a sequence and shows each progress step, input is
// refused, messages come from the window's thread in order while the sequence waits, and closing the
// window stops the sequence, ending user setting mode first.
#include "dialogs/switch_dlg.h"

#include "framework/qt/qt_framework.h"
#include "res/resource.h"
#include "tests/support/dialog_test.h"
#include "tests/support/scripted_printer.h"
#include "tests/support/ui_probe.h"

#include <QApplication>
#include <QTest>
#include <QThread>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kSelfTest1 = {0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02};
const char* const kNoThread = "No thread could be started for this port; nothing was sent.";

template <class D> class Closing : public D {
  public:
    using D::D;
    int cancels = 0;

  protected:
    void OnCancel() override {
        ++cancels;
        D::OnCancel();
    }
};

// Where `command` first stands in `commands` at or after `from`; -1 if nowhere.
int IndexOf(const std::vector<Bytes>& commands, const Bytes& command, std::size_t from = 0) {
    auto it = std::find(commands.begin() + static_cast<long>(from), commands.end(), command);
    return it == commands.end() ? -1 : static_cast<int>(it - commands.begin());
}

bool IsChange(const Bytes& c) {
    return c.size() == 15 && c[0] == 0x1D && c[1] == 0x28 && c[2] == 0x45 && c[5] == 3;
}

class Sequences : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice& com1 = os.AddDevice("COM1");
    ScriptedPrinter printer{os, com1};
    UiProbe probe{os};
    Closing<CSwitchDlg> dlg{probe};
    MessageRecorder messages;

    void SetUp() override {
        os.workersDriveClock = true;
        AnswerAsLtx580(printer, "01000100", "00001100"); // PC852, full cut; 9600, even parity
    }
    void TearDown() override { ClearModalHandlers(); }

    // Connects through the communication dialog, reads the switches once, then runs `steps`.
    int Run(std::function<void()> steps) {
        PushModalHandler([this](CDialog&) {
            Click(dlg.m_commDlg, IDC_CHECK_COMM);
            Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        });
        PushModalHandler([this, steps](CDialog&) {
            Click(dlg, IDC_GET_STATUS);
            ASSERT_EQ(messages.Texts().back(), "Success to get status of printer.");
            messages.shown.clear();
            printer.commands.clear();
            printer.times.clear();
            steps();
        });
        return dlg.DoModal();
    }
    bool OnUiThread() const { return QThread::currentThread() == qApp->thread(); }
};

TEST_F(Sequences, SetStatusRunsOnAWorkerWhileTheWindowKeepsItsEventLoop) {
    Run([&] {
        const int stepsBefore = ProgressSteps(dlg, IDC_PROGRESS);
        bool onUi = false, modeStillOn = false;
        int steps = -1, pos = -1;
        // When the end of user setting mode goes out, the window's thread has already shown the mode notice,
        // the status byte and the three change commands as five progress steps.
        probe.At(kSetupOut, [&] {
            onUi = OnUiThread();
            steps = ProgressSteps(dlg, IDC_PROGRESS) - stepsBefore;
            pos = ProgressPos(dlg, IDC_PROGRESS);
            modeStillOn = printer.commands.back() == kSetupOut; // the select after it not yet sent
        });
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(probe.ran, 1) << "the window's event loop did not run during Set Status";
        EXPECT_EQ(probe.missed, 0);
        EXPECT_TRUE(onUi);
        EXPECT_TRUE(modeStillOn) << "the probe ran while the sequence waited";
        EXPECT_EQ(steps, 5);
        EXPECT_EQ(pos, 20);
        EXPECT_EQ(ProgressSteps(dlg, IDC_PROGRESS) - stepsBefore, 9);
        EXPECT_EQ(ProgressPos(dlg, IDC_PROGRESS), 0);
        EXPECT_EQ(messages.shown,
                  (std::vector<ShownMessage>{{"Success to set status of printer", MB_ICONINFORMATION, {}}}));
        EXPECT_EQ(printer.Count(SwitchChange(9, "00001102")), 1)
            << "the bytes are those of the dialog's model";
    });
}

TEST_F(Sequences, TheWindowTakesNoInputWhileASequenceRuns) {
    Run([&] {
        QWidget* window = qt::DialogWidget(dlg);
        auto* baud = window->findChild<QWidget*>(QStringLiteral("control_%1").arg(IDC_BAUD_RATE));
        ASSERT_NE(baud, nullptr);
        // A user's clicks, keys and wheel on the controls. Set Status refreshes none of them afterwards, so
        // whatever got through would still show.
        auto userInput = [&] {
            Click(dlg, IDC_GET_STATUS);
            Click(dlg, IDC_INIT_STATUS);
            Click(dlg, kPinLeft[2]); // the cutter row, now on
            baud->setFocus();
            QTest::keyClick(baud, Qt::Key_Down);
            QWheelEvent wheel(QPointF(4, 4), baud->mapToGlobal(QPointF(4, 4)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(baud, &wheel);
            Focus(dlg, IDC_SET_STATUS);
            QTest::keyClick(window->focusWidget(), Qt::Key_Space);
            QTest::keyClick(window->focusWidget(), Qt::Key_Return);
        };
        const SwitchModel before = dlg;
        probe.At(kSetupOut, userInput);
        Click(dlg, IDC_SET_STATUS);
        ProcessEvents(); // nothing was kept for later either
        EXPECT_EQ(probe.ran, 1);
        EXPECT_EQ(printer.Count(kSetupIn), 1) << "a second Set Status started";
        EXPECT_EQ(printer.Count(SwitchQuery(2)), 0) << "Get Status started during Set Status";
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Success to set status of printer"});
        EXPECT_EQ(static_cast<SwitchModel&>(dlg), before);
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "9600") << "the list changed";
        EXPECT_TRUE(Checked(dlg, kPinRight[2])) << "the pin panel changed";
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC852 (Latin 2)") << "Initialize Status ran";
        EXPECT_EQ(dlg.cancels, 0);

        // The same key and wheel once the sequence has ended do reach the list.
        baud->setFocus();
        QTest::keyClick(baud, Qt::Key_Down);
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "19200");
        QWheelEvent wheel(QPointF(4, 4), baud->mapToGlobal(QPointF(4, 4)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(baud, &wheel);
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "38400");
    });
}

TEST_F(Sequences, MessagesComeFromTheWindowsThreadInOrderWhileTheSequenceWaits) {
    struct Seen {
        std::string text;
        unsigned type;
        bool onUi;
        std::size_t commandsSoFar;
    };
    std::vector<Seen> seen;
    const std::thread::id ui = std::this_thread::get_id();
    Run([&] {
        MessageBoxPresenter previous =
            SetMessageBoxPresenter([&](const std::string& text, unsigned type, const std::string&) {
                seen.push_back({text, type, std::this_thread::get_id() == ui, printer.commands.size()});
                return IDOK;
            });
        printer.Always(kGsMaker, IdentityReply("OTHERCO"));
        dlg.m_strFirmware.clear(); // identify again, as after connecting
        Click(dlg, IDC_GET_STATUS);
        SetMessageBoxPresenter(previous);
    });
    ASSERT_EQ(seen.size(), 4u);
    const std::vector<std::pair<std::string, unsigned>> expected = {
        {"OTHERCO", MB_ICONEXCLAMATION},
        {"This printer don't match our company name.", MB_ICONEXCLAMATION},
        {"Don't use this program for other company product.", MB_ICONEXCLAMATION},
        {"Success to get status of printer.", MB_ICONINFORMATION}};
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].text, expected[i].first) << i;
        EXPECT_EQ(seen[i].type, expected[i].second) << i;
        EXPECT_TRUE(seen[i].onUi) << i;
    }
    // The sequence waits for each answer: nothing goes out between the three warnings.
    EXPECT_EQ(seen[1].commandsSoFar, seen[0].commandsSoFar);
    EXPECT_EQ(seen[2].commandsSoFar, seen[0].commandsSoFar);
    EXPECT_GT(seen[3].commandsSoFar, seen[2].commandsSoFar);
}

TEST_F(Sequences, ClosingInUserSettingModeEndsTheModeFirstThenTheDialogCloses) {
    Run([&] {
        probe.At(kSetupIn, [&] { qt::DialogWidget(dlg)->close(); }); // the close box
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(probe.ran, 1);
        const auto& c = printer.commands;
        const int in = IndexOf(c, kSetupIn);
        ASSERT_GE(in, 0);
        const int out = IndexOf(c, kSetupOut, static_cast<std::size_t>(in));
        ASSERT_GT(out, in) << "user setting mode was not ended";
        EXPECT_EQ(out, in + 1) << "nothing but the end of the mode after the close";
        EXPECT_EQ(IndexOf(c, kEscSelect, static_cast<std::size_t>(out)), out + 1);
        EXPECT_EQ(c.size(), static_cast<std::size_t>(out + 2));
        EXPECT_TRUE(std::none_of(c.begin(), c.end(), IsChange)) << "no switch was written";
        EXPECT_LT(printer.times[static_cast<std::size_t>(out)] - printer.times[static_cast<std::size_t>(in)],
                  1000u)
            << "the second for entering the mode was cut short";
        EXPECT_NE(std::find(os.sleeps.begin(), os.sleeps.end(), 38u), os.sleeps.end())
            << "the last commands were given the time to leave the line at 9600 baud";
        EXPECT_TRUE(messages.shown.empty()) << "no message once the window is closed";
        EXPECT_EQ(dlg.cancels, 0) << "the close waits for the handler";
        ProcessEvents();
        EXPECT_EQ(dlg.cancels, 1) << "then the close goes on";
        EXPECT_FALSE(qt::DialogWidget(dlg)->isVisible());
    });
    EXPECT_FALSE(com1.held) << "the port is closed with the dialog";
}

TEST_F(Sequences, SetStatusWithoutAThreadForItsWorkerFailsWithAMessageAndSendsNothing) {
    Run([&] {
        os.noThreads = true;
        Click(dlg, IDC_SET_STATUS); // returns: nothing waits for a worker that never started
        EXPECT_EQ(messages.shown, (std::vector<ShownMessage>{{kNoThread, MB_ICONEXCLAMATION, {}}}));
        EXPECT_TRUE(printer.commands.empty()) << "a byte was sent";
        EXPECT_TRUE(Enabled(dlg, IDC_SET_STATUS)) << "the window takes input again";
        os.noThreads = false;
        messages.shown.clear();
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Success to set status of printer"})
            << "the next Set Status, with a thread, works";
    });
}

TEST_F(Sequences, EscapeDuringThePreCheckStopsBeforeUserSettingMode) {
    Run([&] {
        probe.At(kEscInit, [&] { PressEscape(dlg); });
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(probe.ran, 1);
        EXPECT_EQ(printer.Count(kSetupIn), 0);
        EXPECT_EQ(printer.Count(kSetupOut), 0);
        EXPECT_TRUE(messages.shown.empty()) << "not even the failed pre-check's";
        ProcessEvents();
        EXPECT_EQ(dlg.cancels, 1);
    });
}

class CommSequences : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice& com1 = os.AddDevice("COM1");
    ScriptedPrinter printer{os, com1};
    UiProbe probe{os};
    Closing<CCommDlg> dlg{probe};
    MessageRecorder messages;

    void SetUp() override { os.workersDriveClock = true; }
    void TearDown() override {
        ClearModalHandlers();
        dlg.m_port.Close();
    }
};

TEST_F(CommSequences, ClosingDuringACheckOnASilentPrinterEndsItAtOnceWithoutAMessage) {
    for (bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB" : "serial");
        if (usb) AddUsbPrinter(os);
        probe.At(kGsModelId, [&] { qt::DialogWidget(dlg)->close(); });
        dlg.cancels = 0;
        messages.shown.clear();
        int cancelsAfterHandler = -1;
        std::uint32_t elapsed = 0;
        PushModalHandler([&](CDialog&) {
            if (usb) Click(dlg, IDC_INTERFACE_USB);
            const std::uint32_t t0 = os.Now();
            Click(dlg, IDC_CHECK_COMM);
            elapsed = os.Now() - t0;
            cancelsAfterHandler = dlg.cancels;
            ProcessEvents();
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(probe.ran, usb ? 2 : 1);
        EXPECT_TRUE(messages.shown.empty());
        EXPECT_EQ(cancelsAfterHandler, 0);
        EXPECT_EQ(dlg.cancels, 1);
        EXPECT_LT(elapsed, 300u) << "the waits of the retries were cut short";
    }
}

TEST_F(CommSequences, ACheckWithoutAThreadForItsWorkerFailsWithAMessageAndSendsNothing) {
    os.noThreads = true;
    PushModalHandler([&](CDialog&) {
        Click(dlg, IDC_CHECK_COMM);
        EXPECT_EQ(messages.shown, (std::vector<ShownMessage>{{kNoThread, MB_ICONEXCLAMATION, {}}}));
        EXPECT_TRUE(printer.commands.empty());
        EXPECT_FALSE(com1.held) << "the port was opened";
        EXPECT_FALSE(Enabled(dlg, IDC_RUN_MANAGER));
        EXPECT_TRUE(Enabled(dlg, IDC_CHECK_COMM));
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancels, 0);
}

TEST_F(CommSequences, SelfTestsRunOnTheWorker) {
    printer.Always(kGsModelId, {'.'});
    bool onWorker = false;
    PushModalHandler([&](CDialog&) {
        Click(dlg, IDC_CHECK_COMM);
        probe.At(kSelfTest1, [&] { onWorker = true; });
        Click(dlg, IDC_SELF_TEST1);
    });
    dlg.DoModal();
    EXPECT_TRUE(onWorker) << "the self test was written on the window's thread";
}

} // namespace
