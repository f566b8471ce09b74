#include "res/resources.h"

#include "framework/resources.h"
#include "res/resource.h"

namespace pw {

namespace {
// Icon 128 in both sizes. The same files make the Windows icon resource.
#include "res/icon-16.xpm"
#include "res/icon-32.xpm"
} // namespace

void RegisterProgramResources() {
    RegisterDialogTemplates();
    SetAppIcon({IDR_MAINFRAME, pinwright_32, pinwright_16});
}

} // namespace pw
