// The Win32 backend against the real API (under wine in CI): failed opens, names and handles that are no
// port refused before a byte is written, USB discovery without a printer, the version gate, worker
// threads, the system's words as UTF-8, and reads and writes on a named pipe, which stands in for a device
// that neither answers nor takes COMMTIMEOUTS.
#include "link/win32/win32_device_services.h"

#include "link/printer_port.h"
#include "link/usb_discovery.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"
#include "link/win32/win32_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The seam's own names, not the A/W macros.
#undef CreateFile
#undef GetVersionEx

using namespace pw;
using pw::win32::Win32DeviceServices;

namespace {

// The far end of a device: a named pipe server with a small buffer.
struct PipeDevice {
    std::string name = "\\\\.\\pipe\\pinwright-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    HANDLE server =
        ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
    ~PipeDevice() { ::CloseHandle(server); }
    // The port's end, overlapped as the port's own opens are, kept by `os` as a device file. A pipe is no
    // port: CreateFile refuses it, so it is opened here and handed over.
    DeviceHandle OpenIn(Win32DeviceServices& os) {
        HANDLE client = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
        if (client == INVALID_HANDLE_VALUE) return kInvalidHandle;
        return os.Adopt(win32::DeviceFileOn(client, name));
    }
    void Send(const std::string& bytes) {
        OVERLAPPED ov{};
        ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD n = 0;
        if (!::WriteFile(server, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &ov))
            ::GetOverlappedResult(server, &ov, &n, TRUE);
        ::CloseHandle(ov.hEvent);
    }
};

TEST(Win32Backend, AMissingPortFailsWithItsErrorAndSaysWhichPortItWas) {
    Win32DeviceServices os;
    EXPECT_EQ(os.CreateFile("COM231", ShareMode::Exclusive), kInvalidHandle);
    const std::uint32_t error = os.GetLastError();
    EXPECT_TRUE(error == 2 || error == 3) << "the open's own error code, unchanged: " << error;
    EXPECT_EQ(os.LastOpenProblem(), win32::OpenProblem("COM231", error));

    CPrinterPort port(os);
    port.m_strPort = "COM231";
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_EQ(port.Close(), 0);
}

// A file in the test's own folder with `bytes`; removed at the end.
struct ScratchFile {
    std::wstring path;
    explicit ScratchFile(const std::string& bytes) {
        wchar_t folder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, folder);
        path = std::wstring(folder) + L"pinwright-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               win32::Widen(::testing::UnitTest::GetInstance()->current_test_info()->name()) + L".sts";
        HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        ::CloseHandle(f);
    }
    ~ScratchFile() { ::DeleteFileW(path.c_str()); }
    std::string Utf8() const { return win32::Narrow(path); }
    std::string Bytes() const {
        HANDLE f =
            ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        char buffer[256];
        DWORD n = 0;
        ::ReadFile(f, buffer, sizeof buffer, &n, nullptr);
        ::CloseHandle(f);
        return std::string(buffer, n);
    }
};

TEST(Win32Backend, NamesThatAreNoPortAreRefusedBeforeAnythingIsOpened) {
    const std::string contents = "status file: must stay as it is";
    ScratchFile file(contents);
    PipeDevice pipe;
    Win32DeviceServices os;
    // By name: a file and a pipe in the device namespace are no port names, and are not even opened.
    for (const std::string& name :
         {"\\\\?\\" + file.Utf8(), "\\\\.\\" + file.Utf8(), file.Utf8(), pipe.name}) {
        EXPECT_EQ(os.CreateFile(name, ShareMode::Exclusive), kInvalidHandle) << name;
        EXPECT_EQ(os.GetLastError(), 123u) << name << ": ERROR_INVALID_NAME";
        EXPECT_EQ(os.LastOpenProblem(), win32::NotAPortProblem(name));
    }
    CPrinterPort port(os);
    EXPECT_EQ(port.OpenDeviceFile("\\\\?\\" + file.Utf8(), kUsb), 0);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_EQ(file.Bytes(), contents);
    EXPECT_EQ(os.CreateFile("\\\\.\\NUL", ShareMode::Exclusive), kInvalidHandle)
        << "a device, but no printer port";
    // A port's name that leads to a file (COM5 mapped to one) is opened, found to be no device by its
    // type, and closed unwritten: tests/wine/cli_e2e.sh maps one, since wine maps ports only from outside.
}

TEST(Win32Backend, AThreadThatCannotBeStartedIsReportedAndItsBodyNeverRuns) {
    Win32DeviceServices os([](std::thread&, std::function<void()>) { return false; });
    bool ran = false;
    EXPECT_EQ(os.StartThread([&] { ran = true; }), 0u);
    EXPECT_EQ(os.GetLastError(), kErrorNotEnoughMemory);
    os.StopThread(0);
    os.JoinThread(0); // nothing to wait for: returns at once
    EXPECT_FALSE(ran);
}

TEST(Win32Backend, TheSystemsWordsComeAsUtf8InAnyLanguage) {
    // "Aucune connexion n'a pu être établie ...": outside ASCII, and outside the ANSI code page's reach as
    // UTF-8 unless converted from UTF-16.
    const std::string french = win32::SystemMessage(10061, MAKELANGID(LANG_FRENCH, SUBLANG_DEFAULT));
    EXPECT_NE(french.find("\xC3\xA9"), std::string::npos) << french << ": é as UTF-8";
    EXPECT_EQ(win32::Narrow(win32::Widen(french)), french) << "valid UTF-8 survives the round trip";
    for (char c : french) EXPECT_NE(c, '\r');
    EXPECT_NE(french.back(), '.') << "the closing period is the caller's";
    EXPECT_EQ(win32::SystemMessage(0x2FFFFFFFu), "Windows error 805306367");
}

TEST(Win32Backend, WithoutAUsbPrinterTheUsbOpenFailsAndSaysSo) {
    Win32DeviceServices os;
    std::string path;
    EXPECT_FALSE(os.EnumUsbInterface(0, path));
    EXPECT_EQ(os.GetLastError(), kErrorNoMoreItems);

    std::FILE* sink = std::tmpfile();
    SetDiscoveryOutput(sink);
    CPrinterPort port(os);
    std::string text, detail;
    port.m_onProblem = [&](const std::string& t, const std::string& d) { text = t, detail = d; };
    port.m_strPort = "USB";
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.m_nKind, kUsb);
    EXPECT_EQ(port.m_hPort, kNoDevice);
    EXPECT_EQ(std::ftell(sink), 0) << "no interface, no diagnostic line";
    SetDiscoveryOutput(nullptr);
    std::fclose(sink);
    EXPECT_EQ(text, "Fail to get USB Handle");
    EXPECT_EQ(detail, win32::NoUsbPrinterProblem());
}

TEST(Win32Backend, TheVersionGateAllowsUsbOnThisWindows) {
    Win32DeviceServices os;
    OsVersion extended{}, basic{};
    ASSERT_TRUE(os.GetVersionEx(extended, true));
    ASSERT_TRUE(os.GetVersionEx(basic, false));
    EXPECT_EQ(extended.platformId, 2u) << "VER_PLATFORM_WIN32_NT";
    EXPECT_GE(extended.major, 5u);
    EXPECT_EQ(basic.major, extended.major);
    EXPECT_EQ(IsUsbSupportedOS(os), 1);
}

TEST(Win32Backend, ReadsOfADeviceWithoutTimeLimitsEndAtTheLimitsTheyWereGiven) {
    PipeDevice device;
    Win32DeviceServices os;
    DeviceHandle h = device.OpenIn(os);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_FALSE(os.SetCommTimeouts(h, TimeLimits{kMaxDword, kMaxDword, 300, 5, 1000})) << "a pipe has none";

    std::uint8_t buffer[20] = {};
    std::uint32_t got = 99;
    DWORD t0 = ::GetTickCount();
    EXPECT_TRUE(os.ReadFile(h, buffer, 20, got));
    DWORD took = ::GetTickCount() - t0;
    EXPECT_EQ(got, 0u);
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 3000u);

    device.Send("7!");
    EXPECT_TRUE(os.ReadFile(h, buffer, 20, got));
    EXPECT_EQ(got, 2u) << "a transfer read ends as soon as bytes came";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "7!");
    EXPECT_TRUE(os.CloseHandle(h));
}

TEST(Win32Backend, AStoppedWorkerLeavesItsBlockedReadAndIsJoined) {
    PipeDevice device;
    Win32DeviceServices os;
    DeviceHandle h = device.OpenIn(os);
    ASSERT_NE(h, kInvalidHandle);
    os.SetCommTimeouts(h,
                       TimeLimits{kMaxDword, kMaxDword, 120000, 5, 1000}); // two minutes: only a stop ends it

    std::uint8_t reply[20] = {};
    std::uint32_t got = 99;
    volatile LONG started = 0;
    ThreadHandle worker = os.StartThread([&] {
        ::InterlockedExchange(&started, 1);
        os.ReadFile(h, reply, 20, got);
    });
    for (int i = 0; i < 2000 && !started; ++i) ::Sleep(1);
    ::Sleep(100);
    DWORD t0 = ::GetTickCount();
    os.StopThread(worker);
    os.JoinThread(worker);
    EXPECT_LT(::GetTickCount() - t0, 2000u);
    EXPECT_EQ(got, 0u);

    // A worker stopped before it reads reads nothing, at once.
    device.Send(".");
    got = 99;
    ThreadHandle late = os.StartThread([&] {
        ::Sleep(200);
        os.ReadFile(h, reply, 20, got);
    });
    os.StopThread(late);
    os.JoinThread(late);
    EXPECT_EQ(got, 0u);

    // A worker that is not stopped reads what came.
    ThreadHandle reader = os.StartThread([&] { os.ReadFile(h, reply, 20, got); });
    os.JoinThread(reader);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(reply[0], '.');
    EXPECT_TRUE(os.CloseHandle(h));
}

TEST(Win32Backend, AWriteThatStaysPendingIsReportedAndCancelled) {
    PipeDevice device;
    Win32DeviceServices os;
    DeviceHandle h = device.OpenIn(os);
    ASSERT_NE(h, kInvalidHandle);
    const std::string big(4096, 'x'); // far more than the pipe holds, and nobody reads
    PendingWrite pending{};
    std::uint32_t written = 99;
    ASSERT_FALSE(os.WriteFile(h, reinterpret_cast<const std::uint8_t*>(big.data()), 4096, written, pending));
    ASSERT_EQ(os.GetLastError(), kErrorIoPending);
    EXPECT_FALSE(os.GetOverlappedResult(h, pending, written, false));
    EXPECT_EQ(os.GetLastError(), kErrorIoIncomplete);
    os.CancelIo(h);
    EXPECT_FALSE(os.GetOverlappedResult(h, pending, written, false)) << "the cancelled attempt is gone";

    EXPECT_TRUE(os.CloseHandle(h));
    EXPECT_FALSE(os.CloseHandle(h));
    EXPECT_EQ(os.GetLastError(), kErrorInvalidHandle);
}

} // namespace
