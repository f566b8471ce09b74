// pinwright.exe: the memory switch manager for LTX-58x receipt printers on Windows, the same application
// object over the framework's Win32 backend. --help and --version write to the console it was started
// from.
#include "app/arguments.h"
#include "app/switch_app.h"
#include "framework/win32/win32_framework.h"
#include "res/resources.h"

#include <cstdio>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {
pw::CSwitchApp theApp;

const char* kHelp = R"(
Reads and writes the memory switches of LTX-580 and LTX-582 ESC/POS receipt printers: the serial line
settings, the default code page, the auto cutter and the automatic line feed. Everything is done in its
windows: choose the port in "Setting Communication", press "Check Communication", then "Run Manager".

Options:
  --help     show this text and exit
  --version  show the version and exit

Ports: "COM1" .. "COM7" and "LPT1" .. "LPT4" are the ports of those names; "USB" is the first USB printer
that answers.
)";

// A windowed program has no console of its own: answers go to the one it was started from, unless its
// output is already redirected.
void UseParentConsole() {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}
} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        UseParentConsole();
        return pw::HandleArguments(argc, argv, kHelp);
    }
    pw::RegisterProgramResources();
    pw::win32::InstallWin32Framework();
    theApp.InitInstance();
    return 0;
}
