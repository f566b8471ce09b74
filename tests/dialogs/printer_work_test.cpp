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
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
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
        EXPECT_TRUE(messages.shown.empty()) << "no message once the window is closed";
        EXPECT_EQ(dlg.cancels, 0) << "the close waits for the handler";
        ProcessEvents();
        EXPECT_EQ(dlg.cancels, 1) << "then the close goes on";
        EXPECT_FALSE(qt::DialogWidget(dlg)->isVisible());
    });
    EXPECT_FALSE(com1.held) << "the port is closed with the dialog";
}

TEST_F(Sequences, ClosingAfterTheStatusQueryOfSetStatusLetsEveryQueuedCommandLeaveTheLine) {
    // The close cuts the waits short: the three changes, the end of the mode and the select (57 bytes)
    // are queued at once, and need 59.4 ms on the line at 9600 8N1 after the close was asked for.
    com1.sendsAtLineRate = true;
    Run([&] {
        probe.At(kDleStatus, [&] { qt::DialogWidget(dlg)->close(); });
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(probe.ran, 1);
        ProcessEvents();
        EXPECT_FALSE(qt::DialogWidget(dlg)->isVisible());
    });
    EXPECT_FALSE(com1.held);
    EXPECT_TRUE(com1.discarded.empty())
        << com1.discarded.size() << " bytes were thrown away before they left";
    Bytes tail = kSetupOut;
    tail.insert(tail.end(), kEscSelect.begin(), kEscSelect.end());
    ASSERT_GE(com1.received.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), com1.received.end() - static_cast<long>(tail.size())))
        << "the end of user setting mode and the select reached the printer last";
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

// A dialog's window that counts the worker's wake-ups of the window's thread: each means a call was queued
// while none was waiting.
class WakeCountingWindow final : public DialogWindow {
  public:
    WakeCountingWindow(std::unique_ptr<DialogWindow> inner, std::mutex& m, std::condition_variable& cv,
                       int& wakes)
        : m_inner(std::move(inner)), m_mutex(m), m_cv(cv), m_wakes(wakes) {}
    bool HasControl(int id) const override { return m_inner->HasControl(id); }
    void EnableControl(int id, bool enable) override { m_inner->EnableControl(id, enable); }
    bool IsControlEnabled(int id) const override { return m_inner->IsControlEnabled(id); }
    std::string GetControlText(int id) const override { return m_inner->GetControlText(id); }
    void SetControlText(int id, const std::string& text) override { m_inner->SetControlText(id, text); }
    int GetCheck(int id) const override { return m_inner->GetCheck(id); }
    void SetCheck(int id, int checked) override { m_inner->SetCheck(id, checked); }
    int ComboGetCurSel(int id) const override { return m_inner->ComboGetCurSel(id); }
    void ComboSetCurSel(int id, int index) override { m_inner->ComboSetCurSel(id, index); }
    int ComboGetCount(int id) const override { return m_inner->ComboGetCount(id); }
    std::string ComboGetLBText(int id, int index) const override {
        return m_inner->ComboGetLBText(id, index);
    }
    void SetControlTip(int id, const std::string& text) override { m_inner->SetControlTip(id, text); }
    void ComboSetItemTip(int id, int index, const std::string& text) override {
        m_inner->ComboSetItemTip(id, index, text);
    }
    void ProgressSetRange(int id, int lower, int upper) override {
        m_inner->ProgressSetRange(id, lower, upper);
    }
    void ProgressSetStep(int id, int step) override { m_inner->ProgressSetStep(id, step); }
    void ProgressStepIt(int id) override { m_inner->ProgressStepIt(id); }
    void ProgressSetPos(int id, int pos) override { m_inner->ProgressSetPos(id, pos); }
    int ProgressGetPos(int id) const override { return m_inner->ProgressGetPos(id); }
    void SetCaption(const std::string& text) override { m_inner->SetCaption(text); }
    void AppendSystemMenu(unsigned commandId, const std::string& text) override {
        m_inner->AppendSystemMenu(commandId, text);
    }
    void Show() override { m_inner->Show(); }
    void RunModal() override { m_inner->RunModal(); }
    void EndModal(int result) override { m_inner->EndModal(result); }
    void RunBusyLoop() override { m_inner->RunBusyLoop(); }
    void QuitBusyLoop() override { m_inner->QuitBusyLoop(); }
    void WakeForPosted() override {
        {
            std::lock_guard lock(m_mutex);
            ++m_wakes;
        }
        m_cv.notify_all();
        m_inner->WakeForPosted();
    }
    void PostCancel() override { m_inner->PostCancel(); }
    int FocusedControl() const override { return m_inner->FocusedControl(); }
    void RestoreFocus(int id) override { m_inner->RestoreFocus(id); }
    void FocusFirstTabStop() override { m_inner->FocusFirstTabStop(); }

  private:
    std::unique_ptr<DialogWindow> m_inner;
    std::mutex& m_mutex;
    std::condition_variable& m_cv;
    int& m_wakes;
};

// The worker gives a message while the window's thread is busy; the user closes the window before the
// message's turn comes. The box must not show: the close is seen on the window's thread, not only by the
// worker, which asked before the close.
TEST_F(CommSequences, AMessageWhoseTurnComesAfterTheCloseIsNotShown) {
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    bool holding = false, messageQueued = false;
    WindowFactory backend = SetWindowFactory(nullptr);
    SetWindowFactory([&](CDialog& d, const DialogTemplate& t) -> std::unique_ptr<DialogWindow> {
        return std::make_unique<WakeCountingWindow>(backend(d, t), m, cv, wakes);
    });
    bool finished = true;
    PushModalHandler([&](CDialog&) {
        finished = dlg.m_printerWork.Run(dlg, dlg.m_port, [&] {
            // Keeps the window's thread busy until the message's call is queued behind this one (its
            // wake-up, the second of the run), then closes the window as the close box does.
            PostToUiThread([&] {
                std::unique_lock lock(m);
                holding = true;
                cv.notify_all();
                messageQueued = cv.wait_for(lock, std::chrono::seconds(5), [&] { return wakes >= 2; });
                lock.unlock();
                dlg.Command(IDCANCEL);
            });
            {
                std::unique_lock lock(m);
                cv.wait_for(lock, std::chrono::seconds(5), [&] { return holding; });
            }
            PrinterWork::Message("Printer is connected.", MB_ICONINFORMATION);
        });
        ProcessEvents();
    });
    dlg.DoModal();
    SetWindowFactory(backend);
    EXPECT_TRUE(holding) << "the window's thread did not run the first call within 5 s";
    EXPECT_TRUE(messageQueued) << "the message's call was not queued within 5 s";
    EXPECT_FALSE(finished);
    EXPECT_TRUE(messages.shown.empty()) << "a message box showed after the window was closed";
    EXPECT_EQ(dlg.cancels, 1) << "the close went on once the handler had returned";
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
