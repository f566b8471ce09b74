// Dialog templates 100 (About box), 102 (main dialog) and 136 (communication dialog), with their combo-box
// lists, in template order (which is the tab order of the controls with a tab stop).
#include "framework/message_box.h"
#include "framework/resources.h"
#include "res/resource.h"
#include "res/resources.h"
#include "res/strings.h"

#include <string>

namespace pw {

namespace {

using K = ControlKind;

ControlTemplate Ctl(int id, K kind, std::string text, int x, int y, int cx, int cy) {
    ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.x = x, c.y = y, c.cx = cx, c.cy = cy;
    // Labels and group boxes start groups, as the resource compiler makes them.
    c.group = kind == K::Static || kind == K::GroupBox || kind == K::IconStatic;
    return c;
}
ControlTemplate Tab(ControlTemplate c) {
    c.tabStop = true;
    return c;
}
ControlTemplate Off(ControlTemplate c) {
    c.disabled = true;
    return c;
}
ControlTemplate Group(ControlTemplate c) {
    c.group = true;
    return c;
}
ControlTemplate Items(ControlTemplate c, std::vector<std::string> items) {
    c.items = std::move(items);
    return c;
}
ControlTemplate VScroll(ControlTemplate c) {
    c.vscroll = true;
    return c;
}

DialogTemplate CommDialog() {
    DialogTemplate t;
    t.id = IDD_COMM_DIALOG;
    t.caption = "Setting Communication ";
    t.cx = 212, t.cy = 151;
    t.controls = {
        Group(Ctl(IDC_INTERFACE_SERIAL, K::AutoRadio, "SERIAL", 17, 22, 39, 8)),
        Ctl(IDC_INTERFACE_PARALLEL, K::AutoRadio, "PARALLEL", 84, 23, 50, 8),
        Ctl(IDC_INTERFACE_USB, K::AutoRadio, "USB", 162, 19, 29, 15),
        Group(Tab(Ctl(IDC_CHECK_COMM, K::DefPushButton, "Check Communication", 125, 45, 80, 19))),
        Off(Tab(Ctl(IDC_SELF_TEST1, K::PushButton, "Self Test 1", 125, 72, 80, 19))),
        Off(Tab(Ctl(IDC_SELF_TEST2, K::PushButton, "Self Test 2", 125, 99, 80, 19))),
        Off(Tab(Ctl(IDC_RUN_MANAGER, K::PushButton, "Run Manager", 125, 126, 80, 19))),
        Items(Tab(Ctl(IDC_COM_PORT, K::ComboDropList, "", 65, 70, 52, 126)),
              {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"}),
        Items(Tab(Ctl(IDC_COMM_BAUD, K::ComboDropList, "", 65, 84, 52, 59)),
              {"9600", "19200", "38400", "57600", "115200"}),
        Items(Tab(Ctl(IDC_COMM_DATABITS, K::ComboDropList, "", 65, 99, 52, 59)), {"8"}),
        Items(Tab(Ctl(IDC_COMM_PARITY, K::ComboDropDown, "", 65, 113, 52, 59)), {"None", "Odd", "Even"}),
        Items(Tab(Ctl(IDC_COMM_STOPBITS, K::ComboDropList, "", 65, 128, 52, 59)), {"1", "1.5", "2"}),
        Ctl(IDC_STATIC, K::GroupBox, "Interface Type", 7, 7, 198, 31),
        Ctl(IDC_STATIC, K::GroupBox, "Communication Setting", 7, 41, 114, 104),
        Ctl(IDC_STATIC, K::Static, "COM Port", 15, 73, 44, 8),
        Ctl(IDC_STATIC, K::Static, "Baud Rate", 15, 86, 44, 8),
        Ctl(IDC_STATIC, K::Static, "Stop Bits", 15, 130, 44, 9),
        Ctl(IDC_STATIC, K::Static, "Parity", 15, 115, 44, 9),
        Ctl(IDC_STATIC, K::Static, "Data Bits", 15, 101, 44, 8),
        Ctl(IDC_STATIC, K::Static, "LPT Port", 15, 59, 44, 8),
        Items(Off(Tab(Ctl(IDC_LPT_PORT, K::ComboDropList, "", 65, 56, 52, 126))),
              {"LPT1", "LPT2", "LPT3", "LPT4"}),
    };
    return t;
}

DialogTemplate SwitchDialog() {
    DialogTemplate t;
    t.id = IDD_SWITCH_DIALOG;
    t.caption = "Pinwright Manger(For LTX-580/LTX-582 Ver2.1)";
    t.cx = 354, t.cy = 362;
    t.appWindow = true;
    auto& c = t.controls;
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Pinwright Status Display", 7, 7, 340, 127));
    const int labelY[8] = {23, 37, 51, 64, 78, 91, 103, 117};
    const int buttonY[8] = {24, 37, 51, 65, 77, 90, 104, 117};
    for (int row = 0; row < 8; ++row)
        c.push_back(Ctl(kPinLabel[row], K::Static, "[PIN " + std::to_string(row + 1) + "] Reserved", 16,
                        labelY[row], 96, 8));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Communication Settting", 159, 239, 112, 39));
    c.push_back(Tab(Ctl(IDC_CHANGE_COMM, K::PushButton, "Change Comm Type", 165, 253, 101, 16)));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Setup Status", 272, 161, 75, 59));
    c.push_back(Tab(Ctl(IDC_GET_STATUS, K::PushButton, "Get Status", 279, 173, 64, 17)));
    c.push_back(Off(Tab(Ctl(IDC_SET_STATUS, K::PushButton, "Set Status", 279, 196, 64, 17))));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Change Switch", 272, 246, 75, 60));
    c.push_back(Off(Tab(Ctl(IDC_SWITCH2_STATUS, K::PushButton, "Switch 2 Status", 279, 259, 64, 17))));
    c.push_back(Off(Tab(Ctl(IDC_SWITCH9_STATUS, K::PushButton, "Switch 9 Status", 279, 281, 64, 17))));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "User Status Setting", 7, 318, 265, 36));
    c.push_back(Off(Tab(Ctl(IDC_SAVE_STATUS, K::PushButton, "Save Status", 14, 333, 75, 14))));
    c.push_back(Tab(Ctl(IDC_LOAD_STATUS, K::PushButton, "Load Status", 102, 333, 75, 14)));
    c.push_back(Off(Tab(Ctl(IDC_INIT_STATUS, K::PushButton, "Initialize Status", 190, 333, 75, 14))));
    for (int row = 0; row < 8; ++row) {
        c.push_back(Group(Off(Ctl(kPinLeft[row], K::AutoRadio, "Reserved", 124, buttonY[row], 99, 8))));
        c.push_back(Off(Ctl(kPinRight[row], K::AutoRadio, "Reserved", 239, buttonY[row], 99, 8)));
    }
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Communication Status", 160, 139, 112, 95));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Baund Rate :", 165, 159, 45, 8));
    c.push_back(Items(Group(Off(Tab(Ctl(IDC_BAUD_RATE, K::ComboDropList, "", 213, 157, 53, 73)))),
                      {"9600", "19200", "38400", "57600", "115200"}));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Data Bits :", 165, 177, 45, 8));
    c.push_back(Items(Off(Tab(Ctl(IDC_DATA_BITS, K::ComboDropList, "", 213, 175, 53, 46))), {"7", "8"}));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Parity :", 165, 195, 45, 8));
    c.push_back(
        Items(Off(Tab(Ctl(IDC_PARITY, K::ComboDropList, "", 213, 193, 53, 49))), {"None", "Odd", "Even"}));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Flow Control :", 165, 212, 45, 8));
    c.push_back(Items(Off(Tab(Ctl(IDC_FLOW_CONTROL, K::ComboDropList, "", 213, 210, 53, 36))),
                      {"DTR/DSR", "Xon/Xoff"}));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "AutoCutter", 7, 209, 149, 33));
    c.push_back(Items(Off(Tab(Ctl(IDC_AUTO_CUTTER, K::ComboDropList, "", 14, 222, 136, 76))),
                      {"Partial Cut", "Full Cut"}));
    c.push_back(Tab(Ctl(IDC_EXIT, K::PushButton, "Exit", 279, 333, 68, 20)));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Default Code Page", 7, 139, 149, 33));
    c.push_back(Items(VScroll(Off(Tab(Ctl(IDC_CODE_PAGE, K::ComboDropDown, "", 14, 151, 136, 130)))),
                      {"PC437 (USA: Standard Europe)", "Katakana", "PC850 (Multilingual)",
                       "PC860 (Portugues)", "PC863 (Canadian-French)", "PC865 (Nordic)", "WPC1252 (Lantin 1)",
                       "PC866 (Cyrillic #2)", "PC852 (Latin 2)", "PC858 (Euro)", "PC864 (Arabic)",
                       "Thai character code 42", "WPC1253 (Greek)", "WPC1251 (Cyrillic)", "PC737 (Greek)",
                       "Thai character code 16", "WPC1255 (Hebrew)", "PC855 (Cyrillic)", "PC857 (Turkish)"}));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "AutoLine feed", 7, 176, 149, 33));
    c.push_back(Items(VScroll(Off(Tab(Ctl(IDC_AUTO_FEED, K::ComboDropDown, "", 14, 188, 136, 130)))),
                      {"Disable", "Enable"}));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "", 7, 245, 150, 33));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Printer Model :", 12, 252, 59, 8));
    c.push_back(Ctl(IDC_MODEL, K::Static, "", 89, 252, 62, 8));
    c.push_back(Ctl(IDC_STATIC, K::Static, "Firmware Version :", 12, 266, 64, 8));
    c.push_back(Ctl(IDC_FIRMWARE, K::Static, "", 89, 266, 62, 8));
    c.push_back(Ctl(IDC_STATIC, K::GroupBox, "Progress", 7, 282, 264, 33));
    c.push_back(Ctl(IDC_PROGRESS, K::Progress, "", 13, 296, 252, 13));
    return t;
}

DialogTemplate AboutDialog() {
    DialogTemplate t;
    t.id = IDD_ABOUTBOX;
    t.caption = "About Pinwright Manger";
    t.cx = 235, t.cy = 55;
    ControlTemplate name = Ctl(IDC_STATIC, K::Static, "Pinwright Manger Version 1.0", 40, 10, 119, 8);
    name.noPrefix = true;
    t.controls = {
        Ctl(IDC_STATIC, K::IconStatic, "", 11, 17, 20, 20),
        name,
        Ctl(IDC_STATIC, K::Static, kAboutNotice, 40, 25, 119, 8),
        Group(Tab(Ctl(IDOK, K::DefPushButton, "OK", 178, 7, 50, 14))),
    };
    return t;
}

} // namespace

void RegisterDialogTemplates() {
    RegisterDialogTemplate(CommDialog());
    RegisterDialogTemplate(SwitchDialog());
    RegisterDialogTemplate(AboutDialog());
}

} // namespace pw
