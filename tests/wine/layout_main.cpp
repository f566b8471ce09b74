// pinwright-layout.exe: where the controls of a dialog sit in its window, in pixels, as the Win32 backend
// lays it out. Usage: pinwright-layout TEMPLATE_ID -> one line "id x y width height" a control, from the
// window's top left corner (its frame included), for the real-window test to click controls by id.
#include "framework/dialog.h"
#include "framework/win32/win32_framework.h"
#include "res/resources.h"

#include <cstdio>
#include <cstdlib>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pinwright-layout TEMPLATE_ID\n");
        return 2;
    }
    pw::RegisterProgramResources();
    pw::win32::InstallWin32Framework();
    const int templateId = std::atoi(argv[1]);
    pw::CDialog dlg(templateId);
    int status = 1;
    pw::PushModalHandler([&](pw::CDialog& d) {
        RECT window{};
        ::GetWindowRect(pw::win32::DialogHandle(d), &window);
        for (const auto& c : d.Template().controls) {
            HWND h = pw::win32::ControlHandle(d, c.id);
            if (!h) continue;
            RECT r{};
            ::GetWindowRect(h, &r);
            std::printf("%d %ld %ld %ld %ld\n", c.id, r.left - window.left, r.top - window.top,
                        r.right - r.left, r.bottom - r.top);
            status = 0;
        }
    });
    dlg.DoModal();
    return status;
}
