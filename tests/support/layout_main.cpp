// pinwright-layout: where a control of a dialog sits in its window, in pixels, as the program lays it out.
// Usage: pinwright-layout TEMPLATE_ID CONTROL_ID -> "x y width height". Lets the real-window test click
// controls by id.
#include "framework/dialog.h"
#include "framework/qt/qt_framework.h"
#include "res/resources.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pinwright-layout TEMPLATE_ID CONTROL_ID\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    pw::RegisterProgramResources();
    pw::qt::InstallQtFramework();
    const int templateId = std::atoi(argv[1]), controlId = std::atoi(argv[2]);
    pw::CDialog dlg(templateId);
    int status = 1;
    pw::PushModalHandler([&](pw::CDialog& d) {
        if (QWidget* w = pw::qt::ControlWidget(d, controlId)) {
            const QRect r = w->geometry();
            std::printf("%d %d %d %d\n", r.x(), r.y(), r.width(), r.height());
            status = 0;
        }
    });
    dlg.DoModal();
    return status;
}
