#include "app/switch_app.h"

#include "dialogs/switch_dlg.h"

namespace pw {

int CSwitchApp::InitInstance() {
    CSwitchDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal(); // however it ends, the program ends
    m_pMainWnd = nullptr;
    return 0;
}

} // namespace pw
