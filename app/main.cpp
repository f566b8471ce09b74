// pinwright: the memory switch manager for LTX-58x receipt printers. Takes no arguments.
#include "app/switch_app.h"
#include "dialogs/switch_dlg.h"
#include "framework/qt/qt_framework.h"

#include <QApplication>
#include <QStyleFactory>

namespace pw {

int CSwitchApp::InitInstance() {
    CSwitchDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal(); // however it ends, the program ends
    m_pMainWnd = nullptr;
    return 0;
}

} // namespace pw

namespace {
pw::CSwitchApp theApp;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    pw::qt::InstallQtFramework();
    theApp.InitInstance();
    return 0;
}
