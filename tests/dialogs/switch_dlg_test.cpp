// The main dialog offscreen: pin panel, selectors, status file, Get and Set Status on a scripted printer.
#include "dialogs/about_dlg.h"
#include "dialogs/switch_dlg.h"

#include "framework/qt/qt_framework.h"
#include "res/resource.h"
#include "settings/status_file.h"
#include "tests/support/dialog_test.h"
#include "tests/support/scripted_printer.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;

namespace {

const int kSettingControls[] = {IDC_SET_STATUS,   IDC_SWITCH2_STATUS, IDC_SWITCH9_STATUS, IDC_SAVE_STATUS,
                                IDC_INIT_STATUS,  IDC_BAUD_RATE,      IDC_PARITY,         IDC_DATA_BITS,
                                IDC_FLOW_CONTROL, IDC_AUTO_CUTTER,    IDC_AUTO_FEED,      IDC_CODE_PAGE};

class MainDialog : public ::testing::Test {
  protected:
    FakeDeviceServices os;
    FakeDevice& com1 = os.AddDevice("COM1");
    ScriptedPrinter printer{os, com1};
    CSwitchDlg dlg{os};
    MessageRecorder messages;
    FileDialogScript files;
    fs::path dir =
        fs::temp_directory_path() / ("pw-dlg-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());

    void SetUp() override {
        os.workersDriveClock = true; // the sequences run on a worker while this thread runs the window
        AnswerAsLtx580(printer, "01000100", "00001100"); // PC852, full cut; 9600, even parity
        fs::create_directories(dir);
    }
    void TearDown() override {
        ClearModalHandlers();
        fs::remove_all(dir);
    }

    // Connects through the communication dialog, then runs `steps` in the main dialog.
    int Run(std::function<void()> steps) {
        PushModalHandler([this](CDialog&) {
            Click(dlg.m_commDlg, IDC_CHECK_COMM);
            Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        });
        PushModalHandler([this, steps](CDialog&) {
            messages.shown.clear();
            steps();
        });
        return dlg.DoModal();
    }
    void GetStatus() {
        Click(dlg, IDC_GET_STATUS);
        ASSERT_EQ(messages.Texts().back(), "Success to get status of printer.");
    }
    std::string Label(int row) { return Text(dlg, kPinLabel[row - 1]); }
    int Row(int row) {
        return Checked(dlg, kPinLeft[row - 1]) ? 0 : Checked(dlg, kPinRight[row - 1]) ? 1 : -1;
    }
    void ExpectRow(int row, const std::string& label, const std::string& left, const std::string& right,
                   bool on) {
        EXPECT_EQ(Label(row), label) << "row " << row;
        EXPECT_EQ(Text(dlg, kPinLeft[row - 1]), left) << "row " << row;
        EXPECT_EQ(Text(dlg, kPinRight[row - 1]), right) << "row " << row;
        EXPECT_EQ(Enabled(dlg, kPinLeft[row - 1]), on) << "row " << row;
        EXPECT_EQ(Enabled(dlg, kPinRight[row - 1]), on) << "row " << row;
    }
    void ExpectReserved(int row) {
        ExpectRow(row, "[PIN " + std::to_string(row) + "] Reserved", "Reserved", "Reserved", false);
    }
    std::string SaveTo(const std::string& name) {
        files.answers.push_back({IDOK, (dir / name).string()});
        Click(dlg, IDC_SAVE_STATUS);
        return (dir / name).string();
    }
    void LoadFrom(const std::string& path) {
        files.answers.push_back({IDOK, path});
        Click(dlg, IDC_LOAD_STATUS);
    }
};

// --- frame and pin panel ---------------------------------------------------------------------------------

TEST_F(MainDialog, StartsWithTheTemplatesStates) {
    Run([&] {
        EXPECT_EQ(qt::DialogWidget(dlg)->windowTitle().toStdString(),
                  "Pinwright Manger(For LTX-580/LTX-582 Ver2.1)");
        for (int row = 1; row <= 8; ++row) ExpectReserved(row);
        for (int id : kSettingControls) EXPECT_FALSE(Enabled(dlg, id)) << id;
        for (int id : {IDC_GET_STATUS, IDC_LOAD_STATUS, IDC_CHANGE_COMM, IDC_EXIT})
            EXPECT_TRUE(Enabled(dlg, id)) << id;
        EXPECT_EQ(Items(dlg, IDC_CODE_PAGE).size(), 19u);
        EXPECT_EQ(Items(dlg, IDC_CODE_PAGE)[6], "WPC1252 (Lantin 1)");
        EXPECT_EQ(Items(dlg, IDC_DATA_BITS), (std::vector<std::string>{"7", "8"}));
        EXPECT_EQ(Selection(dlg, IDC_BAUD_RATE), -1);
        EXPECT_EQ(Text(dlg, IDC_MODEL), "");
    });
}

TEST_F(MainDialog, GetStatusFillsTheControlsAndShowsSwitchTwo) {
    Run([&] {
        GetStatus();
        EXPECT_EQ(messages.shown.back().type, MB_ICONINFORMATION);
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC852 (Latin 2)");
        EXPECT_EQ(Text(dlg, IDC_AUTO_CUTTER), "Full Cut");
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "9600");
        EXPECT_EQ(Text(dlg, IDC_PARITY), "Even");
        EXPECT_EQ(Text(dlg, IDC_DATA_BITS), "8");
        EXPECT_EQ(Text(dlg, IDC_AUTO_FEED), "Disable");
        EXPECT_EQ(Text(dlg, IDC_FIRMWARE), "2.10");
        EXPECT_EQ(Text(dlg, IDC_MODEL), "LTX-580");
        for (int id : kSettingControls) EXPECT_TRUE(Enabled(dlg, id)) << id;
        ExpectReserved(1);
        ExpectReserved(2);
        ExpectRow(3, "[PIN 3] Auto Cutter", "Partial Cut", "Full Cut", true);
        for (int row = 4; row <= 8; ++row)
            ExpectRow(row, "[PIN " + std::to_string(row) + "] Default Code Page", "Switch Off", "Switch On",
                      true);
        EXPECT_EQ(Row(3), 1);
        EXPECT_EQ(Row(7), 1);
        EXPECT_EQ(Row(4), 0);
        // One step a byte of the three identity texts ("_2.10", "_MERIDOX", "_LTX-580", each with its NUL),
        // then the 24 of a serial Get Status.
        EXPECT_EQ(ProgressSteps(dlg, IDC_PROGRESS), 6 + 9 + 9 + 24);
        EXPECT_EQ(ProgressPos(dlg, IDC_PROGRESS), 0);
    });
}

TEST_F(MainDialog, SwitchNineViewAndBack) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_SWITCH9_STATUS);
        ExpectReserved(1);
        ExpectRow(2, "[PIN 2] Data Length)", "8 bits", "7 bits", true);
        ExpectRow(3, "[PIN 3] Parity", "ODD", "EVEN", true);
        ExpectRow(4, "[PIN 4] Parity Check", "Disable", "Enable", true);
        ExpectRow(5, "[PIN 5] Flow Control", "DTR/DSR", "Xon/Xoff", true);
        for (int row = 6; row <= 8; ++row)
            ExpectRow(row, "[PIN " + std::to_string(row) + "] Baudrate", "Switch Off", "Switch On", true);
        EXPECT_EQ(Row(3), 1);
        EXPECT_EQ(Row(4), 1);
        dlg.m_nPin[0] = 1; // row 1 shows whatever it last held
        dlg.UpdateData(FALSE);
        Click(dlg, IDC_SWITCH2_STATUS);
        EXPECT_EQ(Row(1), 1) << "switching views keeps row 1";
        EXPECT_EQ(Row(3), 1);
    });
}

TEST_F(MainDialog, ClicksThatDisagreeArePutBack) {
    Run([&] {
        GetStatus();
        Click(dlg, kPinLeft[2]); // "Partial Cut" while the cutter pin is on
        EXPECT_EQ(Row(3), 1);
        Click(dlg, kPinRight[2]); // agrees
        EXPECT_EQ(Row(3), 1);
        Click(dlg, kPinRight[3]); // pin 4 is off
        EXPECT_EQ(Row(4), 0);
        EXPECT_EQ(dlg.m_sw2[3], 0);
        Click(dlg, IDC_SWITCH9_STATUS);
        Click(dlg, kPinRight[1]); // "7 bits" while pin 2 is off
        EXPECT_EQ(Row(2), 0);
        EXPECT_EQ(dlg.m_sw9[1], 0);
    });
}

TEST_F(MainDialog, FailedGetStatusInTheSwitchTwoViewKeepsTheCutterRow) {
    Run([&] {
        GetStatus();
        printer.On(kGsModelId, [](int) { return std::optional<Answer>(); }); // the printer stops answering
        Click(dlg, IDC_GET_STATUS);
        EXPECT_EQ(messages.Texts().back(), "Can't connect printer. Please restart printer.");
        ExpectRow(3, "[PIN 3] Auto Cutter", "Partial Cut", "Full Cut", true);
        for (int row : {1, 2, 4, 5, 6, 7, 8}) ExpectReserved(row);
        EXPECT_EQ(Selection(dlg, IDC_AUTO_CUTTER), -1);
        EXPECT_FALSE(Enabled(dlg, IDC_AUTO_CUTTER));
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC852 (Latin 2)") << "the code page keeps its entry";
        EXPECT_FALSE(Enabled(dlg, IDC_CODE_PAGE));
        EXPECT_FALSE(Enabled(dlg, IDC_GET_STATUS));
        EXPECT_FALSE(Enabled(dlg, IDC_LOAD_STATUS));
        EXPECT_EQ(dlg.m_nBaudSel, -1);
        EXPECT_EQ(dlg.m_nCodePageSel, 8);
        Click(dlg, kPinLeft[2]); // row 3 still follows switch 2 pin 3
        EXPECT_EQ(Row(3), 1);
    });
}

TEST_F(MainDialog, FailedGetStatusInTheSwitchNineViewResetsEveryRow) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_SWITCH9_STATUS);
        printer.On(kGsModelId, [](int) { return std::optional<Answer>(); });
        Click(dlg, IDC_GET_STATUS);
        for (int row = 1; row <= 8; ++row) ExpectReserved(row);
    });
}

TEST_F(MainDialog, UnreadableReplyLeavesEverythingAsItWas) {
    Run([&] {
        GetStatus();
        printer.Always(SwitchQuery(9), SwitchReplyBytes("1X000000"));
        const SwitchModel before = dlg;
        Click(dlg, IDC_GET_STATUS);
        EXPECT_EQ(messages.Texts().back(), kBadSwitchReply);
        EXPECT_EQ(static_cast<SwitchModel&>(dlg), before);
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "9600");
        EXPECT_TRUE(Enabled(dlg, IDC_SET_STATUS));
        EXPECT_EQ(ProgressPos(dlg, IDC_PROGRESS), 0);
    });
}

TEST_F(MainDialog, ChangeCommTypeCancelledLeavesOnlyChangeAndExit) {
    Run([&] {
        GetStatus();
        PushModalHandler([&](CDialog&) {
            EXPECT_TRUE(Checked(dlg.m_commDlg, IDC_INTERFACE_SERIAL));
            EXPECT_EQ(Text(dlg, IDC_MODEL), "") << "cleared before the dialog shows";
        });
        Click(dlg, IDC_CHANGE_COMM);
        EXPECT_EQ(dlg.m_commDlg.m_port.m_hPort, kNoDevice);
        for (int id : kSettingControls) EXPECT_FALSE(Enabled(dlg, id)) << id;
        EXPECT_FALSE(Enabled(dlg, IDC_GET_STATUS));
        EXPECT_FALSE(Enabled(dlg, IDC_LOAD_STATUS));
        EXPECT_TRUE(Enabled(dlg, IDC_CHANGE_COMM));
        EXPECT_TRUE(Enabled(dlg, IDC_EXIT));
        EXPECT_EQ(Text(dlg, IDC_FIRMWARE), "");
    });
}

TEST_F(MainDialog, AboutBoxOpensForSystemCommandsSixteenToThirtyOne) {
    int opened = 0;
    Run([&] {
        for (unsigned id : {16u, 31u, 32u, 0xF060u + 16u}) {
            PushModalHandler([&](CDialog& d) {
                EXPECT_NE(dynamic_cast<CAboutDlg*>(&d), nullptr);
                EXPECT_EQ(qt::DialogWidget(d)->windowTitle().toStdString(), "About Pinwright Manger");
                ++opened;
            });
            dlg.OnSysCommand(id, 0);
            ClearModalHandlers();
        }
        EXPECT_NE(dlg.m_commDlg.m_port.m_hPort, kNoDevice) << "the About box leaves the connection";
    });
    EXPECT_EQ(opened, 2);
}

TEST_F(MainDialog, TheDialogsOwnMenuOffersTheAboutBox) {
    int opened = 0;
    Run([&] {
        for (bool byKey : {false, true}) {
            PushModalHandler([&](CDialog& d) { opened += dynamic_cast<CAboutDlg*>(&d) != nullptr; });
            std::vector<std::string> items;
            QObject guard; // the timer dies with this iteration
            // The menu runs its own loop: look at it and choose from it once it shows.
            QTimer::singleShot(50, &guard, [&] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                ASSERT_NE(menu, nullptr);
                for (QAction* a : menu->actions())
                    items.push_back(a->isSeparator() ? "-" : a->text().toStdString());
                QTest::keyClick(menu, Qt::Key_Down); // the leading separator is not shown
                QTest::keyClick(menu, Qt::Key_Return);
            });
            QWidget* w = qt::DialogWidget(dlg);
            if (byKey)
                QTest::keyClick(w, Qt::Key_F10, Qt::ShiftModifier);
            else
                QTest::mouseClick(w->windowHandle(), Qt::RightButton, {}, QPoint(5, 5));
            EXPECT_EQ(items, (std::vector<std::string>{"-", "&About Pinwright Manger..."})) << byKey;
        }
    });
    EXPECT_EQ(opened, 2);
}

TEST_F(MainDialog, ClosingTheDialogClosesThePort) {
    int result = Run([&] {
        ASSERT_TRUE(com1.held);
        PressKey(dlg, Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(com1.held);
}

// --- setting selectors -----------------------------------------------------------------------------------

TEST_F(MainDialog, CodePageInTheSwitchNineViewChangesPinsButNoRow) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_SWITCH9_STATUS);
        const int rows[8] = {Row(1), Row(2), Row(3), Row(4), Row(5), Row(6), Row(7), Row(8)};
        Choose(dlg, IDC_CODE_PAGE, 3); // PC860: pins 4 and 5
        for (int row = 1; row <= 8; ++row) EXPECT_EQ(Row(row), rows[row - 1]) << row;
        EXPECT_EQ(CodePageValueFromPins(dlg.m_sw2), 3);
        Click(dlg, IDC_SWITCH2_STATUS);
        EXPECT_EQ(Row(4), 1);
        EXPECT_EQ(Row(5), 1);
        EXPECT_EQ(Row(7), 0);
    });
}

TEST_F(MainDialog, ThaiAfterCyrillicLeavesExactlyPinsSixAndSeven) {
    Run([&] {
        GetStatus();
        Choose(dlg, IDC_CODE_PAGE, 7);
        Choose(dlg, IDC_CODE_PAGE, 11);
        EXPECT_EQ((std::vector<int>{dlg.m_sw2[3], dlg.m_sw2[4], dlg.m_sw2[5], dlg.m_sw2[6], dlg.m_sw2[7]}),
                  (std::vector<int>{0, 0, 1, 1, 0}));
        EXPECT_EQ((std::vector<int>{Row(4), Row(5), Row(6), Row(7), Row(8)}),
                  (std::vector<int>{0, 0, 1, 1, 0}));
    });
}

TEST_F(MainDialog, LineSelectorsSetTheirPins) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_SWITCH9_STATUS);
        Choose(dlg, IDC_BAUD_RATE, 3); // 57600
        EXPECT_EQ((std::vector<int>{Row(6), Row(7), Row(8)}), (std::vector<int>{1, 1, 0}));
        Choose(dlg, IDC_PARITY, 0); // None after Even
        EXPECT_EQ(dlg.m_sw9[3], 0);
        EXPECT_EQ(dlg.m_sw9[2], 1);
        Choose(dlg, IDC_PARITY, 2);
        Choose(dlg, IDC_PARITY, 1); // Odd after Even
        EXPECT_EQ(dlg.m_sw9[2], 0);
        EXPECT_EQ(dlg.m_sw9[3], 1);
        EXPECT_EQ(Row(3), 0);
        Choose(dlg, IDC_DATA_BITS, 0);
        EXPECT_EQ(dlg.m_sw9[1], 1);
        EXPECT_EQ(Row(2), 1);
        Choose(dlg, IDC_DATA_BITS, 1);
        EXPECT_EQ(dlg.m_sw9[1], 0);
        Choose(dlg, IDC_AUTO_CUTTER, 0); // Partial Cut in the switch 9 view
        EXPECT_EQ(dlg.m_sw2[2], 0);
        EXPECT_EQ(Row(3), 0) << "row 3 shows parity here and stays";
        const SwitchModel before = dlg;
        Choose(dlg, IDC_AUTO_FEED, 1);
        SwitchModel after = dlg;
        after.m_nAutoFeedSel = before.m_nAutoFeedSel;
        EXPECT_EQ(after, before) << "the line feed changes no pin and no row";
        EXPECT_EQ(dlg.m_nAutoFeedSel, 1);
    });
}

// --- status file and Set Status --------------------------------------------------------------------------

TEST_F(MainDialog, InitializeThenSaveWritesTheKnownBytes) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_INIT_STATUS);
        const std::string path = SaveTo("init.sts");
        ASSERT_EQ(files.requests.size(), 1u);
        EXPECT_FALSE(files.requests[0].open);
        EXPECT_EQ(files.requests[0].initialName, "Noname.sts");
        EXPECT_EQ(files.requests[0].title, "Save current status");
        EXPECT_EQ(files.requests[0].filter, "Status Files (*.sts)|*.sts|");
        EXPECT_EQ(files.requests[0].flags, 0x00A82022u);
        std::ifstream in(path, std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(bytes.size(), 88u);
        auto field = [&](int offset) {
            return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | bytes[offset + 3] << 24;
        };
        for (int off = 4; off <= 24; off += 4) EXPECT_EQ(field(off), 0) << off;
        for (int off = 32; off <= 52; off += 4) EXPECT_EQ(field(off), 0) << off;
        EXPECT_EQ(field(56), 1);
        EXPECT_EQ(field(60), 4);
        EXPECT_EQ(field(64), 1);
        for (int off = 68; off <= 84; off += 4) EXPECT_EQ(field(off), 0) << off;
        EXPECT_TRUE(messages.shown.size() == 1u) << "saving says nothing";
    });
}

TEST_F(MainDialog, SaveChangeLoadBringsTheSettingsBack) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_SWITCH9_STATUS);
        const std::string path = SaveTo("shop.sts");
        EXPECT_EQ(dlg.m_bSwitch2View, 1) << "saving shows switch 2";
        const SwitchModel saved = dlg;
        Choose(dlg, IDC_BAUD_RATE, 4);
        Choose(dlg, IDC_PARITY, 0);
        Choose(dlg, IDC_CODE_PAGE, 13);
        LoadFrom(path);
        EXPECT_EQ(files.requests.back().initialName, "*.sts");
        EXPECT_EQ(files.requests.back().title, "Load saved status");
        EXPECT_EQ(files.requests.back().flags, 0x00A81022u);
        EXPECT_EQ(dlg.m_nBaudSel, saved.m_nBaudSel);
        EXPECT_EQ(dlg.m_nParitySel, saved.m_nParitySel);
        EXPECT_EQ(dlg.m_nCodePageSel, saved.m_nCodePageSel);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(dlg.m_sw2[i], saved.m_sw2[i]) << i;
            EXPECT_EQ(dlg.m_sw9[i], saved.m_sw9[i]) << i;
        }
        EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC852 (Latin 2)");
        EXPECT_EQ(Row(7), 1);
    });
}

TEST_F(MainDialog, LoadRefusesNamesAndFilesItCannotTrust) {
    Run([&] {
        GetStatus();
        const std::string good = SaveTo("good.sts");
        const SwitchModel before = dlg;
        auto copyAs = [&](const std::string& name) {
            fs::copy_file(good, dir / name, fs::copy_options::overwrite_existing);
            return (dir / name).string();
        };
        for (const std::string& name : {std::string("noext"), std::string("UPPER.STS")}) {
            messages.shown.clear();
            LoadFrom(copyAs(name));
            EXPECT_EQ(messages.shown,
                      (std::vector<ShownMessage>{{"Wrong format files loaded.", MB_ICONEXCLAMATION, {}}}))
                << name;
        }
        auto write = [&](const std::string& name, std::vector<std::uint8_t> bytes) {
            std::ofstream(dir / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            return (dir / name).string();
        };
        std::ifstream in(good, std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        auto shortFile = bytes;
        shortFile.resize(40);
        auto longFile = bytes;
        longFile.push_back(0);
        auto outOfRange = bytes;
        outOfRange[60] = 9;
        for (auto& [name, content] : std::vector<std::pair<std::string, std::vector<std::uint8_t>>>{
                 {"short.sts", shortFile}, {"long.sts", longFile}, {"range.sts", outOfRange}}) {
            messages.shown.clear();
            LoadFrom(write(name, content));
            EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Wrong format files loaded."}) << name;
            EXPECT_EQ(static_cast<SwitchModel&>(dlg), before) << name;
        }
        messages.shown.clear();
        LoadFrom((dir / "gone.sts").string());
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.shown[0].text.find("gone.sts"), std::string::npos) << "names the file";
        messages.shown.clear();
        LoadFrom(copyAs("fists"));
        EXPECT_TRUE(messages.shown.empty()) << "any name ending in a lower-case sts";
    });
}

TEST_F(MainDialog, LoadWorksWithoutAPrinterAndEnablesSetStatus) {
    // A file saved earlier; then Get Status is never run.
    SwitchModel m;
    InitializeDefaults(m);
    std::string error;
    ASSERT_TRUE(SaveStatusFile((dir / "defaults.sts").string(), m, error));
    Run([&] {
        LoadFrom((dir / "defaults.sts").string());
        EXPECT_TRUE(messages.shown.empty());
        for (int id : kSettingControls) EXPECT_TRUE(Enabled(dlg, id)) << id;
        EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "115200");
        EXPECT_EQ(dlg.m_nPin[0], 0);
    });
}

TEST_F(MainDialog, InitializeThenSetStatusWritesTheDefaults) {
    Run([&] {
        GetStatus();
        Click(dlg, IDC_INIT_STATUS);
        printer.commands.clear();
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.shown.back(),
                  (ShownMessage{"Success to set status of printer", MB_ICONINFORMATION, {}}));
        EXPECT_EQ(printer.Count(SwitchChange(1, "22202222")), 1);
        EXPECT_EQ(printer.Count(SwitchChange(2, "00000022")), 1);
        EXPECT_EQ(printer.Count(SwitchChange(9, "10000002")), 1);
        EXPECT_EQ(ProgressPos(dlg, IDC_PROGRESS), 0);
    });
}

TEST_F(MainDialog, SetStatusNeverReportsSuccessAfterAFailedWrite) {
    Run([&] {
        GetStatus();
        com1.acceptScript = [](int, std::uint32_t n) {
            return n == 15 ? WriteOutcome{WriteOutcome::Fail, 0, kErrorGenFailure, 0} : WriteOutcome::All(n);
        };
        Click(dlg, IDC_SET_STATUS);
        EXPECT_EQ(messages.Texts().back(), kSettingsNotWritten);
        for (auto& m : messages.shown) EXPECT_NE(m.text, "Success to set status of printer");
        EXPECT_EQ(printer.Count(kSetupOut), 1) << "user setting mode is ended";
    });
}

} // namespace
