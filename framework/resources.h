// The program's resources as the framework sees them: dialog templates and the application icon. The
// front end hands them over at start-up (app/ from res/, tests their own); the framework never includes
// res/, so every backend and every test gets them the same way.
#pragma once

#include "framework/dialog_template.h"

namespace pw {

// The application icon: its resource id in the executable (Windows loads the picture from there) and the
// same picture as XPM in 32 and 16 pixels (for a backend that draws it itself).
struct IconResource {
    int id = 0;
    const char* const* image32 = nullptr;
    const char* const* image16 = nullptr;
};

// Adds a template, or replaces the one with its id.
void RegisterDialogTemplate(DialogTemplate t);
// The registered template; throws std::out_of_range for an unknown id.
const DialogTemplate& FindDialogTemplate(int id);

void SetAppIcon(const IconResource& icon);
// The registered icon; id 0 and no pictures when there is none.
const IconResource& AppIcon();

} // namespace pw
