// pinwright: the memory switch manager for LTX-58x receipt printers. Takes no arguments but --help and
// --version, which are answered before Qt starts, so they work without a display.
#include "app/arguments.h"
#include "app/switch_app.h"
#include "framework/dialog.h"
#include "framework/qt/qt_framework.h"
#include "framework/qt/stop_signals.h"
#include "res/resources.h"

#include <QApplication>
#include <QStyleFactory>

namespace {
pw::CSwitchApp theApp;

const char* kHelp = R"(
Reads and writes the memory switches of LTX-580 and LTX-582 ESC/POS receipt printers: the serial line
settings, the default code page, the auto cutter and the automatic line feed. Everything is done in its
windows: choose the port in "Setting Communication", press "Check Communication", then "Run Manager".

Options:
  --help     show this text and exit
  --version  show the version and exit

Environment:
  PINWRIGHT_COM1 .. PINWRIGHT_COM7  the device file "COM1" .. "COM7" stand for (default: the n-th serial
                                    port present: real ttyS ports, then ttyUSB, then ttyACM)
  PINWRIGHT_LPT1 .. PINWRIGHT_LPT4  the device file "LPT1" .. "LPT4" stand for (default /dev/lp0 .. /dev/lp3)
  PINWRIGHT_USB_DIR                 where "USB" looks for printers (default /dev/usb: lp0, lp1, ...)

The port lists show, as a tooltip, the device each port stands for. See pinwright(1).
)";

} // namespace

int main(int argc, char** argv) {
    if (int status = pw::HandleArguments(argc, argv, kHelp); status >= 0) return status;
    pw::qt::TakeStopSignals(); // before Qt starts its threads, which inherit the blocked signals
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("io.github.pinwright.Pinwright"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    pw::RegisterProgramResources();
    pw::qt::InstallQtFramework();
    pw::qt::CloseWindowsOnStopSignals();
    theApp.InitInstance();
    return pw::StopStatus(); // 0, or 128 + the signal that closed the windows
}
