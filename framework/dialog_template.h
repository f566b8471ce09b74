// Dialog templates as data: controls with their ids, kinds, texts, positions in dialog units, styles and
// combo-box items. The resources in res/ are written in these terms; a backend builds windows from them.
#pragma once

#include <string>
#include <vector>

namespace pw {

enum class ControlKind {
    PushButton,
    DefPushButton,
    AutoRadio,
    GroupBox,
    Static,
    IconStatic,
    ComboDropList, // drop-down list: choose only
    ComboDropDown, // drop-down with an edit field
    Progress,
};

constexpr int IDC_STATIC = -1;

struct ControlTemplate {
    int id = IDC_STATIC;
    ControlKind kind = ControlKind::Static;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool disabled = false;
    bool tabStop = false;
    bool group = false; // starts a group (radio groups end at the next control that starts one)
    bool vscroll = false;
    bool noPrefix = false; // ampersands shown as they are
    std::vector<std::string> items;
};

struct DialogTemplate {
    int id = 0;
    std::string caption;
    int cx = 0, cy = 0;
    std::string fontName = "MS Sans Serif";
    int pointSize = 8;
    bool appWindow = false; // a taskbar button of its own
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const;
    // The radio buttons of the group that starts at `firstId`, in template order.
    std::vector<int> RadioGroup(int firstId) const;
};

} // namespace pw
