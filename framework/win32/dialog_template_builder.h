// Dialog templates as Windows reads them: an extended dialog template (DLGTEMPLATEEX with its
// DLGITEMTEMPLATEEX items) built in memory from the framework's template data, for
// DialogBoxIndirectParamW.
#pragma once

#include "framework/dialog_template.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pw::win32 {

// The typeface a dialog gets for the template's font: "MS Sans Serif" becomes "MS Shell Dlg", which
// DS_SHELLFONT maps to the system's dialog font.
std::wstring DialogTypeface(const std::string& fontName);

// The template in DWORD-aligned memory. `iconId` is the resource the icon statics show.
std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& t, int iconId);

} // namespace pw::win32
