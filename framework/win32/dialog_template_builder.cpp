#include "framework/win32/dialog_template_builder.h"

#include "link/win32/wide_text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>
#include <cstring>

namespace pw::win32 {

namespace {

// The predefined window classes of dialog items, by atom.
constexpr std::uint16_t kButton = 0x0080, kStatic = 0x0082, kComboBox = 0x0085;

class Writer {
  public:
    void Word(std::uint16_t w) { Raw(&w, sizeof w); }
    void Dword(std::uint32_t d) { Raw(&d, sizeof d); }
    void Short(std::int16_t s) { Raw(&s, sizeof s); }
    void Byte(std::uint8_t b) { m_bytes.push_back(b); }
    void Text(const std::wstring& text) {
        for (wchar_t c : text) Word(static_cast<std::uint16_t>(c));
        Word(0);
    }
    void Ordinal(std::uint16_t id) {
        Word(0xFFFF);
        Word(id);
    }
    void AlignDword() {
        while (m_bytes.size() % 4) m_bytes.push_back(0);
    }
    std::vector<std::uint32_t> Take() {
        AlignDword();
        std::vector<std::uint32_t> out(m_bytes.size() / 4);
        std::memcpy(out.data(), m_bytes.data(), m_bytes.size());
        return out;
    }

  private:
    void Raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<std::uint8_t> m_bytes;
};

DWORD ItemStyle(const ControlTemplate& c) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
    case ControlKind::PushButton:
        style |= BS_PUSHBUTTON;
        break;
    case ControlKind::DefPushButton:
        style |= BS_DEFPUSHBUTTON;
        break;
    case ControlKind::AutoRadio:
        style |= BS_AUTORADIOBUTTON;
        break;
    case ControlKind::GroupBox:
        style |= BS_GROUPBOX;
        break;
    case ControlKind::Static:
        style |= SS_LEFTNOWORDWRAP; // one line, as on Linux: a wider font clips its end, not whole words
        break;
    case ControlKind::IconStatic:
        style |= SS_ICON;
        break;
    case ControlKind::ComboDropList:
        style |= CBS_DROPDOWNLIST;
        break;
    case ControlKind::ComboDropDown:
        style |= CBS_DROPDOWN;
        break;
    case ControlKind::Progress:
        style |= PBS_SMOOTH | WS_BORDER;
        break;
    }
    if (c.noPrefix && c.kind == ControlKind::Static) style |= SS_NOPREFIX;
    if (c.tabStop) style |= WS_TABSTOP;
    if (c.group) style |= WS_GROUP;
    if (c.disabled) style |= WS_DISABLED;
    if (c.vscroll) style |= WS_VSCROLL;
    return style;
}

void ItemClass(Writer& w, ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
    case ControlKind::IconStatic:
        w.Ordinal(kStatic);
        break;
    case ControlKind::ComboDropList:
    case ControlKind::ComboDropDown:
        w.Ordinal(kComboBox);
        break;
    case ControlKind::Progress:
        w.Text(PROGRESS_CLASSW);
        break;
    default:
        w.Ordinal(kButton);
    }
}

} // namespace

std::wstring DialogTypeface(const std::string& fontName) {
    return fontName == "MS Sans Serif" ? L"MS Shell Dlg" : Widen(fontName);
}

std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& t, int iconId) {
    Writer w;
    const std::wstring face = DialogTypeface(t.fontName);
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    style |= face == L"MS Shell Dlg" ? DS_SHELLFONT : DS_SETFONT;
    w.Word(1);      // dlgVer
    w.Word(0xFFFF); // signature: extended template
    w.Dword(0);     // helpID
    w.Dword(t.appWindow ? WS_EX_APPWINDOW : 0);
    w.Dword(style);
    w.Word(static_cast<std::uint16_t>(t.controls.size()));
    w.Short(0), w.Short(0);
    w.Short(static_cast<std::int16_t>(t.cx)), w.Short(static_cast<std::int16_t>(t.cy));
    w.Word(0); // no menu
    w.Word(0); // the dialog class
    w.Text(Widen(t.caption));
    w.Word(static_cast<std::uint16_t>(t.pointSize));
    w.Word(FW_NORMAL);
    w.Byte(0); // not italic
    w.Byte(DEFAULT_CHARSET);
    w.Text(face);

    for (const ControlTemplate& c : t.controls) {
        w.AlignDword();
        w.Dword(0); // helpID
        w.Dword(0); // exStyle
        w.Dword(ItemStyle(c));
        w.Short(static_cast<std::int16_t>(c.x)), w.Short(static_cast<std::int16_t>(c.y));
        w.Short(static_cast<std::int16_t>(c.cx)), w.Short(static_cast<std::int16_t>(c.cy));
        w.Dword(static_cast<std::uint32_t>(c.id));
        ItemClass(w, c.kind);
        if (c.kind == ControlKind::IconStatic)
            w.Ordinal(static_cast<std::uint16_t>(iconId));
        else
            w.Text(Widen(c.text));
        w.Word(0); // no creation data
    }
    return w.Take();
}

} // namespace pw::win32
