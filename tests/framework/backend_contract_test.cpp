// What every backend of the dialog framework must do, on its real windows: controls at their template's
// dialog units in pixels, radio groups where the template starts them, selection notifications for a
// user's choice only, Enter as the dialog manager takes it, the focus never moved onto a push button by
// itself, texts unchanged. The same cases run on the Qt backend (Linux) and on the Win32 backend (under
// wine).
#include "framework/dialog.h"
#include "framework/resources.h"
#include "res/resource.h"
#include "tests/support/backend_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

using namespace pw;
using namespace pw::test;

namespace {

constexpr int kContract = 900, kNoDefault = 901;
constexpr int kOne = 101, kTwo = 102, kThree = 103, kFour = 104, kLabel = 105;
constexpr int kList = 201, kEdit = 202, kDefault = 301, kOther = 302, kBar = 401;

ControlTemplate Ctl(int id, ControlKind kind, const char* text, int x, int y, int cx, int cy, bool group,
                    bool tabStop, std::vector<std::string> items = {}) {
    ControlTemplate c;
    c.id = id, c.kind = kind, c.text = text;
    c.x = x, c.y = y, c.cx = cx, c.cy = cy;
    c.group = group, c.tabStop = tabStop;
    c.items = std::move(items);
    return c;
}

// Odd sizes and places, so that a rounding or an axis mix-up shows.
DialogTemplate Contract(int id, bool withDefault) {
    using K = ControlKind;
    DialogTemplate t;
    t.id = id;
    t.caption = "Backend contract";
    t.cx = 187, t.cy = 97;
    t.controls = {
        Ctl(kOne, K::AutoRadio, "One", 7, 7, 45, 10, true, false),
        Ctl(kTwo, K::AutoRadio, "Two", 7, 19, 45, 10, false, false),
        // A second group right after the first one, with no other control between them.
        Ctl(kThree, K::AutoRadio, "Three", 61, 7, 45, 10, true, false),
        Ctl(kFour, K::AutoRadio, "Four", 61, 19, 45, 10, false, false),
        Ctl(kLabel, K::Static, "Label", 115, 9, 33, 9, true, false),
        Ctl(kList, K::ComboDropList, "", 7, 37, 61, 50, true, true, {"a", "Öl", "c"}),
        Ctl(kEdit, K::ComboDropDown, "", 75, 37, 61, 50, false, true, {"x", "y", "z"}),
        Ctl(kDefault, withDefault ? K::DefPushButton : K::PushButton, "Default", 130, 57, 50, 14, false,
            true),
        Ctl(kOther, K::PushButton, "Other", 75, 57, 50, 14, false, true),
        Ctl(kBar, K::Progress, "", 7, 79, 173, 11, false, false),
    };
    return t;
}

// Records what reaches its message map; the two push buttons are handled there, IDOK and IDCANCEL are not.
class ContractDlg : public CDialog {
  public:
    explicit ContractDlg(int templateId = kContract) : CDialog(templateId) {}
    std::vector<std::pair<int, int>> notes; // (id, notification)
    int selectionSeen = -2;                 // the combo box's selection when its CBN_SELCHANGE came
    int m_nFirst = -1, m_nSecond = -1, m_nList = -1;
    bool okRan = false;

    int Count(int id, int code) const {
        int n = 0;
        for (const auto& [i, c] : notes) n += i == id && c == code;
        return n;
    }

  protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Radio(pDX, kOne, m_nFirst);
        DDX_Radio(pDX, kThree, m_nSecond);
        DDX_CBIndex(pDX, kList, m_nList);
    }
    bool Dispatch(int id, int code) override {
        if (code == CBN_SELCHANGE) selectionSeen = CComboBox(this, id).GetCurSel();
        notes.emplace_back(id, code);
        return id != IDOK && id != IDCANCEL;
    }
    void OnOK() override {
        okRan = true;
        CDialog::OnOK();
    }
};

int Dlu(int units, int base, int per) {
    return static_cast<int>((static_cast<long long>(units) * base + per / 2) / per);
}

class BackendContract : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        RegisterDialogTemplate(Contract(kContract, true));
        RegisterDialogTemplate(Contract(kNoDefault, false));
    }
    void TearDown() override {
        EXPECT_EQ(PendingModalHandlers(), 0u) << "a dialog the test expected did not run";
        ClearModalHandlers();
    }
    // Runs `dlg` modally with `steps` as the user's actions; returns DoModal's result.
    template <class F> int Run(CDialog& dlg, F steps) {
        PushModalHandler([steps](CDialog& d) { steps(d); });
        return dlg.DoModal();
    }
};

TEST_F(BackendContract, EveryControlSitsAtItsDialogUnitsInPixels) {
    for (int id : {kContract, IDD_COMM_DIALOG, IDD_SWITCH_DIALOG, IDD_ABOUTBOX}) {
        SCOPED_TRACE("template " + std::to_string(id));
        const DialogTemplate& t = FindDialogTemplate(id);
        CDialog dlg(id);
        Run(dlg, [&](CDialog& d) {
            const BaseUnits base = DialogBaseUnits(d);
            // An 8-point dialog font at 96 dpi: the layout is in the template's font, not the system's.
            EXPECT_GE(base.x, 5);
            EXPECT_LE(base.x, 8);
            EXPECT_GE(base.y, 12);
            EXPECT_LE(base.y, 15);
            const PixelRect client = ClientRect(d);
            EXPECT_EQ(client.cx, Dlu(t.cx, base.x, 4));
            EXPECT_EQ(client.cy, Dlu(t.cy, base.y, 8));
            int checked = 0;
            for (const ControlTemplate& c : t.controls) {
                if (c.id == IDC_STATIC) continue;
                SCOPED_TRACE("control " + std::to_string(c.id));
                const PixelRect r = ControlRect(d, c.id);
                EXPECT_EQ(r.x, Dlu(c.x, base.x, 4));
                EXPECT_EQ(r.y, Dlu(c.y, base.y, 8));
                EXPECT_EQ(r.cx, Dlu(c.cx, base.x, 4));
                // A combo box's template height includes its dropped list; closed, it is one line high.
                if (c.kind == ControlKind::ComboDropList || c.kind == ControlKind::ComboDropDown)
                    EXPECT_LT(r.cy, Dlu(c.cy, base.y, 8));
                else
                    EXPECT_EQ(r.cy, Dlu(c.cy, base.y, 8));
                ++checked;
            }
            EXPECT_GT(checked, 0);
        });
    }
}

TEST_F(BackendContract, OnlyTheUsersChoiceNotifiesASelectionChange) {
    ContractDlg dlg;
    Run(dlg, [&](CDialog&) {
        CComboBox list(&dlg, kList), edit(&dlg, kEdit);
        list.SetCurSel(2);
        edit.SetCurSel(2);
        dlg.m_nList = 0;
        dlg.UpdateData(FALSE);
        EXPECT_EQ(list.GetCurSel(), 0);
        EXPECT_EQ(dlg.Count(kList, CBN_SELCHANGE) + dlg.Count(kEdit, CBN_SELCHANGE), 0)
            << "a selection the program made is not the user's";

        Choose(dlg, kList, 1);
        EXPECT_EQ(dlg.Count(kList, CBN_SELCHANGE), 1);
        EXPECT_EQ(dlg.selectionSeen, 1) << "the handler sees the new selection";
        Choose(dlg, kEdit, 1);
        EXPECT_EQ(dlg.Count(kEdit, CBN_SELCHANGE), 1);
        EXPECT_EQ(dlg.selectionSeen, 1);
        EXPECT_EQ(edit.GetWindowText(), "y");
        dlg.UpdateData(TRUE);
        EXPECT_EQ(dlg.m_nList, 1);
    });
}

TEST_F(BackendContract, RadioGroupsStartWhereTheTemplateSays) {
    ContractDlg dlg;
    Run(dlg, [&](CDialog&) {
        dlg.m_nFirst = 0, dlg.m_nSecond = 1;
        dlg.UpdateData(FALSE);
        EXPECT_TRUE(Checked(dlg, kOne));
        EXPECT_TRUE(Checked(dlg, kFour));

        Click(dlg, kTwo);
        EXPECT_EQ(dlg.Count(kTwo, BN_CLICKED), 1);
        EXPECT_TRUE(Checked(dlg, kTwo));
        EXPECT_FALSE(Checked(dlg, kOne)) << "the click unchecks its own group";
        EXPECT_TRUE(Checked(dlg, kFour)) << "and leaves the next group alone";
        dlg.UpdateData(TRUE);
        EXPECT_EQ(dlg.m_nFirst, 1);
        EXPECT_EQ(dlg.m_nSecond, 1);

        Click(dlg, kThree);
        EXPECT_FALSE(Checked(dlg, kFour));
        EXPECT_TRUE(Checked(dlg, kTwo));
        dlg.UpdateData(TRUE);
        EXPECT_EQ(dlg.m_nSecond, 0);

        dlg.m_nFirst = -1; // a group with no choice
        dlg.UpdateData(FALSE);
        EXPECT_FALSE(Checked(dlg, kOne));
        EXPECT_FALSE(Checked(dlg, kTwo));
        EXPECT_TRUE(Checked(dlg, kThree));
    });
}

TEST_F(BackendContract, EnterPressesTheFocusedPushButtonOtherwiseTheEnabledDefault) {
    ContractDlg dlg;
    const int result = Run(dlg, [&](CDialog&) {
        Focus(dlg, kOther);
        PressEnter(dlg);
        EXPECT_EQ(dlg.Count(kOther, BN_CLICKED), 1) << "the focused push button";
        EXPECT_EQ(dlg.Count(kDefault, BN_CLICKED), 0);

        Focus(dlg, kList); // no push button focused
        PressEnter(dlg);
        EXPECT_EQ(dlg.Count(kDefault, BN_CLICKED), 1) << "the default button";
        EXPECT_EQ(dlg.Count(kOther, BN_CLICKED), 1);

        dlg.GetDlgItem(kDefault)->EnableWindow(FALSE);
        Focus(dlg, kEdit);
        dlg.notes.clear();
        PressEnter(dlg);
        EXPECT_TRUE(dlg.notes.empty()) << "a disabled default button takes Enter and does nothing";
        EXPECT_FALSE(dlg.okRan);
        EXPECT_EQ(FocusedControl(dlg), kEdit);
        PressEscape(dlg);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(dlg.okRan);
}

TEST_F(BackendContract, EnterInADialogWithoutADefaultButtonIsOKUnlessAPushButtonHasTheFocus) {
    ContractDlg dlg(kNoDefault);
    const int result = Run(dlg, [&](CDialog&) {
        Focus(dlg, kOther);
        PressEnter(dlg);
        EXPECT_EQ(dlg.Count(kOther, BN_CLICKED), 1);
        EXPECT_FALSE(dlg.okRan) << "the dialog stays open";
        Focus(dlg, kList);
        PressEnter(dlg);
        EXPECT_TRUE(dlg.okRan);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.Count(kOther, BN_CLICKED), 1);
}

TEST_F(BackendContract, FocusNeverMovesOntoAPushButtonByItself) {
    ContractDlg dlg;
    const int result = Run(dlg, [&](CDialog&) {
        // A control that is disabled with the focus hands it to the enabled default button...
        Focus(dlg, kList);
        dlg.GetDlgItem(kList)->EnableWindow(FALSE);
        EXPECT_EQ(FocusedControl(dlg), kDefault);
        dlg.GetDlgItem(kList)->EnableWindow(TRUE);

        // ...and, with none, to no push button at all: not to "Other", the next in the tab order.
        dlg.GetDlgItem(kDefault)->EnableWindow(FALSE);
        EXPECT_EQ(FocusedControl(dlg), 0);
        dlg.notes.clear();
        PressEnter(dlg);
        EXPECT_TRUE(dlg.notes.empty()) << "Enter pressed a button the user never chose";

        // After a message box the focus is back where it was.
        Focus(dlg, kOther);
        ShowAndAnswerMessageBox("A message");
        EXPECT_EQ(FocusedControl(dlg), kOther);
        Focus(dlg, kEdit);
        ShowAndAnswerMessageBox("Another");
        EXPECT_EQ(FocusedControl(dlg), kEdit);
        EXPECT_TRUE(dlg.notes.empty());
        PressEscape(dlg);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(BackendContract, WithoutADefaultButtonAFocusedButtonThatIsDisabledLeavesTheFocusOnNoButton) {
    ContractDlg dlg(kNoDefault);
    const int result = Run(dlg, [&](CDialog&) {
        Focus(dlg, kOther);
        dlg.GetDlgItem(kOther)->EnableWindow(FALSE);
        EXPECT_EQ(FocusedControl(dlg), 0) << "not the other push button";
        PressEnter(dlg); // no push button focused, no default button: OK
        EXPECT_TRUE(dlg.okRan);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.Count(kDefault, BN_CLICKED), 0);
}

TEST_F(BackendContract, TextsAndProgressPassUnchanged) {
    ContractDlg dlg;
    Run(dlg, [&](CDialog&) {
        CWnd* label = dlg.GetDlgItem(kLabel);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->GetWindowText(), "Label");
        label->SetWindowText("Größe: 5 € — ok");
        EXPECT_EQ(label->GetWindowText(), "Größe: 5 € — ok");
        CComboBox list(&dlg, kList);
        EXPECT_EQ(list.GetCount(), 3);
        EXPECT_EQ(list.GetLBText(1), "Öl");
        EXPECT_EQ(list.GetCurSel(), CB_ERR) << "lists open without a selection";

        CProgressCtrl bar(&dlg, kBar);
        bar.SetRange(0, 100);
        bar.SetStep(4);
        for (int i = 0; i < 25; ++i) bar.StepIt();
        EXPECT_EQ(bar.GetPos(), 100);
        bar.SetPos(0);
        EXPECT_EQ(bar.GetPos(), 0);
    });
}

} // namespace
