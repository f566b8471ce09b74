// The communication dialog offscreen, driven by control ids, on a scripted printer and the virtual clock.
#include "dialogs/comm_dlg.h"

#include "framework/qt/qt_framework.h"
#include "res/resource.h"
#include "tests/support/dialog_test.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/scripted_printer.h"

#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace pw;
using namespace pw::test;

namespace {

const Bytes kModelId = {0x1D, 0x49, 0x01};
const int kCombos[] = {IDC_COM_PORT, IDC_COMM_BAUD, IDC_COMM_DATABITS, IDC_COMM_PARITY, IDC_COMM_STOPBITS};

class CommDialog : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice& com1 = os.AddDevice("COM1");
    ScriptedPrinter printer{os, com1};
    CCommDlg dlg{os};
    MessageRecorder messages;

    void SetUp() override {
        os.workersDriveClock = true; // the check runs on a worker while this thread runs the window
        printer.Always(kModelId, {'.'});
    }
    void TearDown() override { ClearModalHandlers(); }

    // Runs the dialog modally with `steps` as the user's actions; returns DoModal's result.
    int Run(std::function<void()> steps) {
        PushModalHandler([steps](CDialog&) { steps(); });
        return dlg.DoModal();
    }
    void CheckConnected() {
        Click(dlg, IDC_CHECK_COMM);
        ASSERT_EQ(messages.Texts().back(), "Printer is connected.");
        ASSERT_NE(dlg.m_port.m_hPort, kNoDevice);
    }
    void ExpectUnchecked() {
        EXPECT_TRUE(Enabled(dlg, IDC_CHECK_COMM));
        EXPECT_FALSE(Enabled(dlg, IDC_SELF_TEST1));
        EXPECT_FALSE(Enabled(dlg, IDC_SELF_TEST2));
        EXPECT_FALSE(Enabled(dlg, IDC_RUN_MANAGER));
    }
};

TEST_F(CommDialog, OpensWithSerialTheFirstItemsAndOnlyTheCheckButton) {
    Run([&] {
        EXPECT_EQ(qt::DialogWidget(dlg)->windowTitle().toStdString(), "Setting Communication ");
        EXPECT_TRUE(Checked(dlg, IDC_INTERFACE_SERIAL));
        EXPECT_FALSE(Checked(dlg, IDC_INTERFACE_PARALLEL));
        EXPECT_EQ(Text(dlg, IDC_COM_PORT), "COM1");
        EXPECT_EQ(Text(dlg, IDC_COMM_BAUD), "9600");
        EXPECT_EQ(Text(dlg, IDC_COMM_DATABITS), "8");
        EXPECT_EQ(Text(dlg, IDC_COMM_PARITY), "None");
        EXPECT_EQ(Text(dlg, IDC_COMM_STOPBITS), "1");
        EXPECT_EQ(Text(dlg, IDC_LPT_PORT), "LPT1");
        EXPECT_EQ(Items(dlg, IDC_COM_PORT),
                  (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"}));
        EXPECT_EQ(Items(dlg, IDC_COMM_BAUD),
                  (std::vector<std::string>{"9600", "19200", "38400", "57600", "115200"}));
        EXPECT_EQ(Items(dlg, IDC_COMM_STOPBITS), (std::vector<std::string>{"1", "1.5", "2"}));
        EXPECT_EQ(Items(dlg, IDC_LPT_PORT), (std::vector<std::string>{"LPT1", "LPT2", "LPT3", "LPT4"}));
        ExpectUnchecked();
        EXPECT_FALSE(Enabled(dlg, IDC_LPT_PORT));
        for (int id : kCombos) EXPECT_TRUE(Enabled(dlg, id)) << id;
    });
}

TEST_F(CommDialog, InterfaceRadiosEnableTheirComboBoxes) {
    Run([&] {
        Click(dlg, IDC_INTERFACE_USB);
        EXPECT_TRUE(Checked(dlg, IDC_INTERFACE_USB));
        for (int id : kCombos) EXPECT_FALSE(Enabled(dlg, id)) << id;
        EXPECT_FALSE(Enabled(dlg, IDC_LPT_PORT));
        Click(dlg, IDC_INTERFACE_PARALLEL);
        for (int id : kCombos) EXPECT_FALSE(Enabled(dlg, id)) << id;
        EXPECT_TRUE(Enabled(dlg, IDC_LPT_PORT));
        Click(dlg, IDC_INTERFACE_SERIAL);
        for (int id : kCombos) EXPECT_TRUE(Enabled(dlg, id)) << id;
        EXPECT_FALSE(Enabled(dlg, IDC_LPT_PORT));
    });
}

TEST_F(CommDialog, SuccessfulCheckConnectsAndOffersBothSelfTests) {
    Run([&] {
        CheckConnected();
        EXPECT_EQ(messages.shown.back().type, MB_ICONINFORMATION);
        EXPECT_FALSE(Enabled(dlg, IDC_CHECK_COMM));
        EXPECT_TRUE(Enabled(dlg, IDC_SELF_TEST1));
        EXPECT_TRUE(Enabled(dlg, IDC_SELF_TEST2));
        EXPECT_TRUE(Enabled(dlg, IDC_RUN_MANAGER));
        Click(dlg, IDC_SELF_TEST1);
        Click(dlg, IDC_SELF_TEST2);
        EXPECT_EQ(printer.commands.end()[-2], (Bytes{0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x02}));
        EXPECT_EQ(printer.commands.end()[-1], (Bytes{0x1D, 0x28, 0x41, 0x02, 0x00, 0x01, 0x03}));
        EXPECT_EQ(messages.shown.size(), 1u) << "self tests say nothing";
    });
}

TEST_F(CommDialog, BaudRateChangeAfterACheckClosesThePortAndResetsTheButtons) {
    Run([&] {
        CheckConnected();
        Choose(dlg, IDC_COMM_BAUD, 2);
        EXPECT_EQ(dlg.m_port.m_hPort, kNoDevice);
        EXPECT_FALSE(com1.held);
        ExpectUnchecked();
    });
}

TEST_F(CommDialog, ClickOnTheSelectedRadioDropsTheConnection) {
    Run([&] {
        CheckConnected();
        Click(dlg, IDC_INTERFACE_SERIAL);
        EXPECT_EQ(dlg.m_port.m_hPort, kNoDevice);
        ExpectUnchecked();
    });
}

TEST_F(CommDialog, LptChangeKeepsTheConnection) {
    os.AddDevice("LPT1");
    ScriptedPrinter lpt(os, *os.DeviceNamed("LPT1"));
    lpt.Always(kModelId, {'.'});
    Run([&] {
        Click(dlg, IDC_INTERFACE_PARALLEL);
        Click(dlg, IDC_CHECK_COMM);
        ASSERT_EQ(messages.Texts().back(), "Printer is connected.");
        Choose(dlg, IDC_LPT_PORT, 2);
        EXPECT_NE(dlg.m_port.m_hPort, kNoDevice);
        EXPECT_TRUE(Enabled(dlg, IDC_RUN_MANAGER));
        EXPECT_FALSE(Enabled(dlg, IDC_CHECK_COMM));
    });
}

TEST_F(CommDialog, LineSettingsReachThePort) {
    Run([&] {
        Choose(dlg, IDC_COMM_BAUD, 4);
        Choose(dlg, IDC_COMM_STOPBITS, 1);
        Choose(dlg, IDC_COMM_PARITY, 2);
        CheckConnected();
    });
    EXPECT_EQ(dlg.m_port.m_nBaudRate, 115200);
    EXPECT_EQ(dlg.m_port.m_nStopBits, 1);
    EXPECT_EQ(dlg.m_port.m_nParity, 2);
    EXPECT_EQ(dlg.m_port.m_nByteSize, 8);
    EXPECT_EQ(com1.settings.baudRate, 115200u);
    EXPECT_EQ(com1.settings.stopBits, 1);
    dlg.m_port.Close();
}

TEST_F(CommDialog, TheByteSizeIsSetWhateverTheDataBitsListShows) {
    Run([&] {
        dlg.m_cbDataBits.SetCurSel(-1); // an empty list choice must not leave the port's byte size unset
        CheckConnected();
    });
    EXPECT_EQ(dlg.m_port.m_nByteSize, 8);
    EXPECT_EQ(com1.settings.byteSize, 8);
    dlg.m_port.Close();
}

TEST_F(CommDialog, EscapeAfterACheckCancelsAndLeavesThePortOpen) {
    int result = Run([&] {
        CheckConnected();
        PressKey(dlg, Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_NE(dlg.m_port.m_hPort, kNoDevice);
    EXPECT_TRUE(com1.held);
    dlg.m_port.Close();
}

TEST_F(CommDialog, RunManagerEndsWithOkAndTheChosenInterface) {
    int result = Run([&] {
        CheckConnected();
        Click(dlg, IDC_RUN_MANAGER);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_nInterface, kSerial);
    EXPECT_NE(dlg.m_port.m_hPort, kNoDevice);
    dlg.m_port.Close();
}

TEST_F(CommDialog, FailuresShowTheirExactMessagesAndKeepTheButtons) {
    Run([&] {
        Choose(dlg, IDC_COM_PORT, 4); // COM5: nothing there
        Click(dlg, IDC_CHECK_COMM);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0],
                  (ShownMessage{"Can't open port and Printer is disconnected", MB_ICONEXCLAMATION, {}}));
        ExpectUnchecked();
        EXPECT_EQ(ToolTip(dlg, IDC_CHECK_COMM),
                  "The printer could not be reached on COM5. To see what stands in "
                  "the way and what to type: pinwright-cli doctor -p COM5");

        Choose(dlg, IDC_COM_PORT, 0);
        com1.acceptScript = [](int, std::uint32_t) { return WriteOutcome::All(0); };
        Click(dlg, IDC_CHECK_COMM);
        EXPECT_EQ(messages.shown.back(),
                  (ShownMessage{"Port error! Check printer's port, please.", MB_ICONEXCLAMATION, {}}));
        ExpectUnchecked();
        EXPECT_NE(dlg.m_port.m_hPort, kNoDevice) << "left open after a failure past the open";

        com1.acceptScript = nullptr;
        printer.On(kModelId, [](int) { return std::optional<Answer>(); });
        Click(dlg, IDC_CHECK_COMM);
        EXPECT_EQ(messages.shown.back(),
                  (ShownMessage{"Can't connect printer. Please restart printer.", MB_ICONINFORMATION, {}}));
        ExpectUnchecked();
        EXPECT_NE(ToolTip(dlg, IDC_CHECK_COMM).find("pinwright-cli doctor -p COM1"), std::string::npos)
            << "a printer that did not answer is the doctor's case too";
    });
    dlg.m_port.Close();
}

TEST_F(CommDialog, SilentUsbPrinterShowsReadError) {
    std::FILE* sink = std::tmpfile();
    AddUsbPrinter(os);
    Run([&] {
        Click(dlg, IDC_INTERFACE_USB);
        Click(dlg, IDC_CHECK_COMM);
    });
    std::fclose(sink);
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown.back(), (ShownMessage{"Read Error", MB_ICONEXCLAMATION, {}}));
    dlg.m_port.Close();
}

// The ports as this machine has them, from a sysfs tree the test builds.
class CommDialogPorts : public CommDialog {
  protected:
    FakeSysfs sys;
    const std::string ftdi = "COM1: /dev/ttyUSB0 (FTDI FT232R USB UART, USB 0403:6001)";
    void SetUp() override {
        CommDialog::SetUp();
        sys.AddUsb("tty", "ttyUSB0", "FTDI", "FT232R USB UART", "0403", "6001");
    }
};

TEST_F(CommDialogPorts, PortTooltipsSayWhichDeviceEachPortIsAndFollowDevicesThatComeAndGo) {
    Run([&] {
        EXPECT_EQ(ToolTip(dlg, IDC_COM_PORT), ftdi) << "the closed box describes its chosen port";
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_NE(QToolTip::text().indexOf("FT232R USB UART"), -1);
        EXPECT_EQ(ItemToolTip(dlg, IDC_COM_PORT, 0), ftdi);
        EXPECT_EQ(ItemToolTip(dlg, IDC_COM_PORT, 1), "COM2: not present");
        EXPECT_EQ(ToolTip(dlg, IDC_INTERFACE_USB), "USB: not present");

        // Plugged in while the dialog is open: the next look sees them.
        sys.AddUsb("tty", "ttyACM0", "Meridox", "LTX-582", "0519", "2013");
        sys.AddUsb("usbmisc", "lp0", "MERIDOX", "LTX-580 <b>Receipt</b>", "0519", "0001");
        EXPECT_EQ(ItemToolTip(dlg, IDC_COM_PORT, 1), "COM2: /dev/ttyACM0 (Meridox LTX-582, USB 0519:2013)");
        EXPECT_EQ(ToolTip(dlg, IDC_INTERFACE_USB), "USB: " + (sys.root / "dev/usb/lp0").string() +
                                                       " (MERIDOX LTX-580 <b>Receipt</b>, USB 0519:0001)")
            << "what a device reports is shown as plain text";

        Click(dlg, IDC_INTERFACE_PARALLEL);
        sys.AddParallel("lp1");
        EXPECT_EQ(ItemToolTip(dlg, IDC_LPT_PORT, 0), "LPT1: /dev/lp0, not present");
        EXPECT_EQ(ItemToolTip(dlg, IDC_LPT_PORT, 1), "LPT2: /dev/lp1");
        Choose(dlg, IDC_LPT_PORT, 1);
        EXPECT_EQ(ToolTip(dlg, IDC_LPT_PORT), "LPT2: /dev/lp1");

        // Pulled out: gone at the next look, and the ports after it move up.
        sys.Unplug("tty", "ttyUSB0");
        EXPECT_EQ(ToolTip(dlg, IDC_COM_PORT), "COM1: /dev/ttyACM0 (Meridox LTX-582, USB 0519:2013)");
        EXPECT_EQ(ItemToolTip(dlg, IDC_COM_PORT, 1), "COM2: not present");

        // The items keep the dialog's own texts.
        EXPECT_EQ(Items(dlg, IDC_COM_PORT),
                  (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"}));
        EXPECT_EQ(Items(dlg, IDC_LPT_PORT), (std::vector<std::string>{"LPT1", "LPT2", "LPT3", "LPT4"}));
        EXPECT_EQ(Text(dlg, IDC_INTERFACE_USB), "USB");
    });
}

TEST_F(CommDialogPorts, ConnectionMessagesNameTheDeviceInTheirDetail) {
    Run([&] {
        CheckConnected();
        EXPECT_EQ(messages.shown.back(), (ShownMessage{"Printer is connected.", MB_ICONINFORMATION, {}}));
        EXPECT_EQ(messages.shown.back().detail, ftdi);

        Choose(dlg, IDC_COM_PORT, 4);
        Click(dlg, IDC_CHECK_COMM);
        EXPECT_EQ(messages.shown.back(),
                  (ShownMessage{"Can't open port and Printer is disconnected", MB_ICONEXCLAMATION, {}}));
        EXPECT_EQ(messages.shown.back().detail.rfind("COM5: not present", 0), 0u)
            << messages.shown.back().detail;

        Choose(dlg, IDC_COM_PORT, 0);
        printer.On(kModelId, [](int) { return std::optional<Answer>(); });
        Click(dlg, IDC_CHECK_COMM);
        EXPECT_EQ(messages.shown.back(),
                  (ShownMessage{"Can't connect printer. Please restart printer.", MB_ICONINFORMATION, {}}));
        EXPECT_EQ(messages.shown.back().detail, ftdi);
    });
    dlg.m_port.Close();
}

} // namespace
