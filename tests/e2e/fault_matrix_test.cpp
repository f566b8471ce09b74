// Every printer operation against pinwright-sim with every fault, driven through the dialogs' own
// handlers offscreen. Each cell checks: the operation ends within its bound, "Success ..." never follows a
// failure, a success is true, the model and the controls change only on success, and the printer is never
// left in user setting mode while the line still works.
#include "dialogs/switch_dlg.h"

#include "res/resource.h"
#include "tests/support/dialog_test.h"
#include "tests/support/sim_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace pw;
using namespace pw::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

enum class Op { CheckSerial, CheckParallel, CheckUsb, SelfTest, FirstGet, LaterGet, SetStatus };

const char* Name(Op op) {
    switch (op) {
    case Op::CheckSerial:
        return "CheckSerial";
    case Op::CheckParallel:
        return "CheckParallel";
    case Op::CheckUsb:
        return "CheckUsb";
    case Op::SelfTest:
        return "SelfTest";
    case Op::FirstGet:
        return "FirstGet";
    case Op::LaterGet:
        return "LaterGet";
    case Op::SetStatus:
        return "SetStatus";
    }
    return "";
}

// Commands the printer has seen before the operation starts, and how many the operation sends.
int CommandsBefore(Op op) {
    switch (op) {
    case Op::SelfTest:
    case Op::FirstGet:
        return 4;
    case Op::LaterGet:
    case Op::SetStatus:
        return 4 + 15;
    default:
        return 0;
    }
}
int CommandsOf(Op op) {
    switch (op) {
    case Op::SelfTest:
        return 1;
    case Op::FirstGet:
        return 11;
    case Op::LaterGet:
        return 8;
    case Op::SetStatus:
        return 11;
    default:
        return 4;
    }
}
double BoundSeconds(Op op) {
    switch (op) {
    case Op::SelfTest:
        return 15;
    case Op::FirstGet:
    case Op::LaterGet:
    case Op::SetStatus:
        return 45;
    default:
        return 75; // a silent serial printer: eleven reads of 5 s
    }
}

struct Cell {
    Op op;
    std::string fault; // --fault value
    std::string label;
};

std::vector<Cell> Cells() {
    std::vector<Cell> cells;
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"silent", "Silent"},   {"delay=6000", "Delay"}, {"stray=AA37", "Stray"},
        {"garbage", "Garbage"}, {"short", "Short"},      {"no-dot=1000", "NoDot"}};
    for (Op op : {Op::CheckSerial, Op::CheckParallel, Op::CheckUsb, Op::SelfTest, Op::FirstGet, Op::LaterGet,
                  Op::SetStatus}) {
        for (const auto& [fault, label] : faults) cells.push_back({op, fault, label});
        for (int k = 1; k <= CommandsOf(op); ++k)
            cells.push_back({op, "hangup-after=" + std::to_string(CommandsBefore(op) + k),
                             "HangupAt" + std::to_string(k)});
    }
    return cells;
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
  protected:
    MessageRecorder messages;
    fs::path dir = fs::temp_directory_path() / ("pw-matrix-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        ClearModalHandlers();
        for (const char* v : {"PINWRIGHT_COM1", "PINWRIGHT_LPT1", "PINWRIGHT_USB_DIR"}) ::unsetenv(v);
        fs::remove_all(dir);
    }
    std::string Read(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // No success after a failure, and at most one success, which is the last message.
    void ExpectTruthfulOrder(const char* success) {
        bool failed = false;
        for (const auto& m : messages.shown) {
            if (m.text == success)
                EXPECT_FALSE(failed) << "success after a failure";
            else if (m.type == MB_ICONEXCLAMATION ||
                     m.text == "Can't connect printer. Please restart printer.")
                failed = true;
        }
    }
};

TEST_P(FaultMatrix, Holds) {
    const Cell& cell = GetParam();
    const fs::path state = dir / "printer.state";
    SimProcess sim({"--trace", "--state", state.string(), "--usb-dir", (dir / "usb").string(), "--fault",
                    cell.fault, "--fault", "from=" + std::to_string(CommandsBefore(cell.op))},
                   true);
    ::setenv("PINWRIGHT_COM1", sim.PtyPath().c_str(), 1);
    ::setenv("PINWRIGHT_LPT1", sim.PtyPath().c_str(), 1);
    ::setenv("PINWRIGHT_USB_DIR", (dir / "usb").c_str(), 1);

    double seconds = 0;
    auto timed = [&](auto&& action) {
        auto t = Clock::now();
        action();
        seconds = std::chrono::duration<double>(Clock::now() - t).count();
    };

    if (cell.op == Op::SelfTest) {
        CCommDlg dlg;
        PushModalHandler([&](CDialog&) {
            Click(dlg, IDC_CHECK_COMM);
            ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Printer is connected."});
            timed([&] { Click(dlg, IDC_SELF_TEST1); });
            EXPECT_EQ(messages.shown.size(), 1u) << "a self test says nothing";
            EXPECT_TRUE(Enabled(dlg, IDC_RUN_MANAGER));
        });
        dlg.DoModal();
        dlg.m_port.Close();
        EXPECT_LT(seconds, BoundSeconds(cell.op));
        return;
    }

    const bool isCheck =
        cell.op == Op::CheckSerial || cell.op == Op::CheckParallel || cell.op == Op::CheckUsb;
    if (isCheck) {
        CCommDlg dlg;
        PushModalHandler([&](CDialog&) {
            if (cell.op == Op::CheckParallel) Click(dlg, IDC_INTERFACE_PARALLEL);
            if (cell.op == Op::CheckUsb) Click(dlg, IDC_INTERFACE_USB);
            timed([&] { Click(dlg, IDC_CHECK_COMM); });
            ASSERT_EQ(messages.shown.size(), 1u);
            const bool ok = messages.shown[0].text == "Printer is connected.";
            EXPECT_EQ(Enabled(dlg, IDC_RUN_MANAGER), ok);
            EXPECT_EQ(Enabled(dlg, IDC_CHECK_COMM), !ok);
            sim.Stop();
            if (ok) {
                EXPECT_NE(sim.Stderr().find("-> 2E"), std::string::npos) << "connected without a \".\"";
            }
        });
        dlg.DoModal();
        dlg.m_port.Close();
        EXPECT_LT(seconds, BoundSeconds(cell.op));
        return;
    }

    CSwitchDlg dlg;
    PushModalHandler([&](CDialog&) {
        Click(dlg.m_commDlg, IDC_CHECK_COMM);
        Click(dlg.m_commDlg, IDC_RUN_MANAGER);
    });
    PushModalHandler([&](CDialog&) {
        ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Printer is connected."});
        messages.shown.clear();
        if (cell.op != Op::FirstGet) {
            Click(dlg, IDC_GET_STATUS);
            ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Success to get status of printer."});
            messages.shown.clear();
        }
        const SwitchModel before = dlg;
        const bool setEnabled = Enabled(dlg, IDC_SET_STATUS);
        if (cell.op == Op::SetStatus) {
            Choose(dlg, IDC_CODE_PAGE, 18);
            timed([&] { Click(dlg, IDC_SET_STATUS); });
            ExpectTruthfulOrder("Success to set status of printer");
            const bool ok =
                !messages.shown.empty() && messages.shown.back().text == "Success to set status of printer";
            sim.Stop();
            const std::string trace = sim.Stderr();
            const bool dropped = trace.find("line dropped") != std::string::npos;
            if (ok && !dropped) {
                EXPECT_NE(Read(state).find("switch 2 = 11010"), std::string::npos) << "success, not applied";
            }
            // Entered user setting mode and the line still works: the mode was ended.
            if (trace.find("user setting mode") != std::string::npos && !dropped) {
                EXPECT_NE(trace.find("settings applied"), std::string::npos) << "left in user setting mode";
            }
        } else {
            timed([&] { Click(dlg, IDC_GET_STATUS); });
            ExpectTruthfulOrder("Success to get status of printer.");
            const bool ok =
                !messages.shown.empty() && messages.shown.back().text == "Success to get status of printer.";
            if (ok) {
                EXPECT_EQ(Text(dlg, IDC_CODE_PAGE), "PC850 (Multilingual)");
                EXPECT_EQ(Text(dlg, IDC_BAUD_RATE), "115200");
            } else {
                EXPECT_EQ(static_cast<SwitchModel&>(dlg).m_sw2[4], before.m_sw2[4]);
                SwitchModel after = dlg;
                // A failed pre-check clears six selections, as the controls are disabled; nothing else moves.
                if (!Enabled(dlg, IDC_GET_STATUS)) {
                    after.m_nBaudSel = before.m_nBaudSel, after.m_nDataBitsSel = before.m_nDataBitsSel;
                    after.m_nFlowSel = before.m_nFlowSel, after.m_nCutterSel = before.m_nCutterSel;
                    after.m_nParitySel = before.m_nParitySel, after.m_nAutoFeedSel = before.m_nAutoFeedSel;
                    EXPECT_FALSE(Enabled(dlg, IDC_SET_STATUS));
                } else {
                    EXPECT_EQ(Enabled(dlg, IDC_SET_STATUS), setEnabled);
                }
                EXPECT_EQ(after, before) << "the model changed after a failure";
            }
        }
        EXPECT_EQ(ProgressPos(dlg, IDC_PROGRESS), 0) << ::testing::PrintToString(messages.Texts());
    });
    dlg.DoModal();
    EXPECT_LT(seconds, BoundSeconds(cell.op));
}

void PrintTo(const Cell& c, std::ostream* os) {
    *os << Name(c.op) << " with --fault " << c.fault;
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(Cells()),
                         [](const ::testing::TestParamInfo<Cell>& info) {
                             return std::string(Name(info.param.op)) + "_" + info.param.label;
                         });

} // namespace
