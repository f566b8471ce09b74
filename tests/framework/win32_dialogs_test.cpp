// The program's dialogs on the Win32 backend, under wine: the About entry of the real system menu, the
// application icon on every window, the file dialogs' request as Windows gets it, and the executable's
// icon, manifest and version resources.
#include "dialogs/comm_dlg.h"
#include "dialogs/switch_dlg.h"
#include "framework/file_dialog.h"
#include "framework/win32/win32_framework.h"
#include "link/printer_port.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/backend_driver.h"
#include "tests/support/fake_device_services.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>
// The seam's own names, not the A/W macros.
#undef CreateFile

#include "framework/win32/native_file_dialog.h"

using namespace pw;
using namespace pw::test;

namespace {

std::wstring MenuText(HMENU menu, int pos) {
    wchar_t text[128] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(pos), text, 128, MF_BYPOSITION);
    return text;
}

std::wstring WindowTextOf(HWND h) {
    wchar_t text[256] = {};
    ::GetWindowTextW(h, text, 256);
    return text;
}

class ClosingSwitchDlg : public CSwitchDlg {
  public:
    using CSwitchDlg::CSwitchDlg;
    bool cancelled = false;

  protected:
    void OnCancel() override {
        cancelled = true;
        CSwitchDlg::OnCancel();
    }
};

class Win32Dialogs : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(PendingModalHandlers(), 0u) << "a dialog the test expected did not run";
        ClearModalHandlers();
    }
};

TEST_F(Win32Dialogs, SystemMenuEndsWithTheAboutEntryThatOpensTheAboutBox) {
    FakeDeviceServices os;
    ClosingSwitchDlg dlg(os);
    bool aboutShown = false;
    PushModalHandler([](CDialog& comm) { comm.EndDialog(IDOK); }); // "Run Manager"
    PushModalHandler([&](CDialog& d) {
        HWND hwnd = win32::DialogHandle(d);
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(WindowTextOf(hwnd), L"Pinwright Manger(For LTX-580/LTX-582 Ver2.1)");
        HMENU menu = ::GetSystemMenu(hwnd, FALSE);
        ASSERT_NE(menu, nullptr);
        const int n = ::GetMenuItemCount(menu);
        ASSERT_GE(n, 3);
        EXPECT_TRUE(::GetMenuState(menu, static_cast<UINT>(n - 2), MF_BYPOSITION) & MF_SEPARATOR);
        EXPECT_EQ(::GetMenuItemID(menu, n - 1), IDM_ABOUTBOX);
        EXPECT_EQ(MenuText(menu, n - 1), L"&About Pinwright Manger...");
        EXPECT_NE(::SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0), 0) << "the window shows icon 128";

        // Any of the sixteen ids from 16 opens the About box; Close keeps its system meaning.
        ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX + 3, 0);
        EXPECT_TRUE(aboutShown);
        EXPECT_FALSE(dlg.cancelled);
        ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(dlg.cancelled);
    });
    PushModalHandler([&](CDialog& about) {
        aboutShown = true;
        HWND hwnd = win32::DialogHandle(about);
        EXPECT_EQ(WindowTextOf(hwnd), L"About Pinwright Manger");
        EXPECT_EQ(::GetWindow(hwnd, GW_OWNER), win32::DialogHandle(dlg)) << "the main dialog waits for it";
        HWND icon = ::GetWindow(hwnd, GW_CHILD);
        EXPECT_NE(::SendMessageW(icon, STM_GETICON, 0, 0), 0) << "the icon static shows icon 128";
        PressEnter(about);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

// The tooltip window a dialog made for its controls, if any.
HWND TooltipOf(HWND dialog) {
    struct Search {
        HWND owner, found;
    } search{dialog, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t name[32] = {};
            ::GetClassNameW(h, name, 32);
            if (::GetWindow(h, GW_OWNER) != s->owner || ::lstrcmpiW(name, TOOLTIPS_CLASSW) != 0) return TRUE;
            s->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST_F(Win32Dialogs, PortListsTellTheirDeviceInATooltipAskedForWhenItShows) {
    FakeDeviceServices os;
    CCommDlg dlg(os);
    PushModalHandler([&](CDialog& d) {
        HWND tips = TooltipOf(win32::DialogHandle(d));
        ASSERT_NE(tips, nullptr);
        EXPECT_EQ(::SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0), 3) << "COM Port, LPT Port and USB";
        // The text is asked for when the tip is about to show: the dialog's TTN_NEEDTEXT handler.
        NMTTDISPINFOW info{};
        info.hdr.hwndFrom = tips;
        info.hdr.idFrom = reinterpret_cast<UINT_PTR>(win32::ControlHandle(d, IDC_COM_PORT));
        info.hdr.code = TTN_GETDISPINFOW;
        ::SendMessageW(win32::DialogHandle(d), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        ASSERT_NE(info.lpszText, nullptr);
        EXPECT_EQ(std::wstring(info.lpszText).rfind(L"COM1", 0), 0u) << win32::Narrow(info.lpszText);
    });
    dlg.DoModal();
}

// A tooltip is asked for on the window's thread, also while a check runs on the port's worker: its look for
// a USB printer must not run on the port's services, where it would set their open problem (the text a
// failed open reports) from another thread.
TEST_F(Win32Dialogs, PortTooltipsLookForAUsbPrinterOnServicesOfTheirOwn) {
    std::string path;
    const std::unique_ptr<DeviceServices> probe = NewPlatformServices();
    ASSERT_FALSE(probe->EnumUsbInterface(0, path)) << "this test needs a system without USB printers";
    ASSERT_EQ(probe->LastOpenProblem(), win32::NoUsbPrinterProblem()) << "a walk here leaves its problem";

    DeviceServices& port = PlatformServices(); // what the program's dialogs run over
    // A failed open leaves the problem a message would tell.
    ASSERT_EQ(port.CreateFile("COM7", ShareMode::Exclusive), kInvalidHandle) << "this test needs no COM7";
    const std::string before = port.LastOpenProblem();
    ASSERT_FALSE(before.empty());
    ASSERT_NE(before, win32::NoUsbPrinterProblem());
    CCommDlg dlg(port);
    std::wstring usbTip;
    PushModalHandler([&](CDialog& d) {
        HWND tips = TooltipOf(win32::DialogHandle(d));
        ASSERT_NE(tips, nullptr);
        NMTTDISPINFOW info{};
        info.hdr.hwndFrom = tips;
        info.hdr.idFrom = reinterpret_cast<UINT_PTR>(win32::ControlHandle(d, IDC_INTERFACE_USB));
        info.hdr.code = TTN_GETDISPINFOW;
        ::SendMessageW(win32::DialogHandle(d), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        ASSERT_NE(info.lpszText, nullptr);
        usbTip = info.lpszText;
    });
    dlg.DoModal();
    EXPECT_EQ(usbTip.rfind(L"USB", 0), 0u) << win32::Narrow(usbTip);
    EXPECT_EQ(port.LastOpenProblem(), before) << "the tooltips' walk ran on the port's services";
}

TEST_F(Win32Dialogs, FileDialogsGetTheRequestUnchanged) {
    const FileDialogRequest save{false, "Noname.sts", "Status Files (*.sts)|*.sts|", "Save current status",
                                 0x00A82022};
    win32::NativeFileDialog dlg(save, nullptr);
    const OPENFILENAMEW& ofn = dlg.Ofn();
    EXPECT_EQ(ofn.Flags, 0x00A82022u);
    EXPECT_NE(ofn.lpfnHook, nullptr) << "OFN_ENABLEHOOK needs a hook, or the dialog does not open";
    EXPECT_EQ(std::wstring(ofn.lpstrFile), L"Noname.sts");
    EXPECT_EQ(std::wstring(ofn.lpstrTitle), L"Save current status");
    const wchar_t expected[] = L"Status Files (*.sts)\0*.sts\0";
    EXPECT_EQ(std::wstring(ofn.lpstrFilter, sizeof expected / sizeof(wchar_t)),
              std::wstring(expected, sizeof expected / sizeof(wchar_t)));
    EXPECT_EQ(ofn.lpstrFilter[sizeof expected / sizeof(wchar_t)], L'\0')
        << "the list ends with an empty pair";

    CFileDialog load(true, "*.sts", 0x00A81022, "Status Files (*.sts)|*.sts|", "Load saved status");
    win32::NativeFileDialog open(load.Request(), nullptr);
    EXPECT_EQ(open.Ofn().Flags, 0x00A81022u);
    EXPECT_EQ(std::wstring(open.Ofn().lpstrFile), L"*.sts");
}

// The executable as built, read as a data file: icon 128 in both sizes, the manifest and the version.
TEST(Win32Executable, CarriesIconManifestAndTheOneVersion) {
    std::wstring path = L"Z:" + win32::Widen(PINWRIGHT_EXE_PATH);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    HMODULE exe =
        ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr) << win32::Narrow(path);

    HRSRC group =
        ::FindResourceW(exe, MAKEINTRESOURCEW(IDR_MAINFRAME), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(exe, group)));
    const int count = dir[4] | dir[5] << 8;
    ASSERT_EQ(count, 2);
    for (int i = 0; i < count; ++i) {
        const BYTE* entry = dir + 6 + 14 * i; // width, height, colours, ...
        EXPECT_EQ(entry[0], i == 0 ? 32 : 16);
        EXPECT_EQ(entry[1], entry[0]);
        EXPECT_EQ(entry[2], 16) << "16 colours";
    }

    HRSRC manifest = ::FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(::LockResource(::LoadResource(exe, manifest))),
                           ::SizeofResource(exe, manifest));
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
    ::FreeLibrary(exe);

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(kFileVersion[0] << 16 | kFileVersion[1]));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(kFileVersion[2] << 16 | kFileVersion[3]));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    wchar_t* product = nullptr;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                                 reinterpret_cast<void**>(&product), &len));
    EXPECT_EQ(win32::Narrow(product), kProductName);
}

} // namespace
