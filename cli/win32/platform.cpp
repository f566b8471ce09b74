// pinwright-cli on Windows: device files are names in the device namespace ("\\.\COM12"); Ctrl-C,
// Ctrl-Break and closing the console reach the run through a console control handler.
#include "cli/platform.h"

#include "link/letter_case.h"
#include "link/printer_port.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

namespace pw::cli {

namespace {

// Made once and kept: the handler stays installed to the end of the process.
struct Events {
    HANDLE request = ::CreateEventA(nullptr, FALSE, FALSE, nullptr); // auto reset: each taken once
    HANDLE finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> exit{0}; // the exit status the request calls for
};

Events& TheEvents() {
    static Events events;
    return events;
}

// Runs on a thread of its own that the system starts.
BOOL WINAPI OnConsoleControl(DWORD type) {
    Events& e = TheEvents();
    // Ctrl-C and Ctrl-Break end as SIGINT would, closing the console or the session as SIGHUP would.
    e.exit = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? 130 : 129;
    ::SetEvent(e.request);
    // Closing the console, logging off or shutting down ends the process as soon as this returns: hold
    // it (within the system's own limit) until every printer has left user setting mode.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(e.finished, INFINITE);
    return TRUE;
}

} // namespace

// A name in the device namespace is meant as a device file, whatever it names: one that is no port is
// refused when opened, before a byte is written, and the port fails as any port that cannot be opened.
bool IsDevicePath(const std::string& port) {
    return win32::IsDeviceNamespaceName(port);
}

// "\\.\COMn" is serial, "\\.\LPTn" parallel, a USB printer interface path USB. A name that is none of
// these is opened as a serial port, which the device services refuse by its name.
int DeviceFileKind(const std::string& path) {
    switch (win32::KindOfPortName(path)) {
    case win32::PortNameKind::Parallel:
        return kParallel;
    case win32::PortNameKind::UsbInterface:
        return kUsb;
    case win32::PortNameKind::Serial:
    case win32::PortNameKind::None:
        break;
    }
    return kSerial;
}

// Windows names are case-blind, and "\\.\COM1" is COM1.
std::string PortIdentity(const std::string& port) {
    const win32::PortNameKind kind = win32::KindOfPortName(port);
    if (kind == win32::PortNameKind::Serial || kind == win32::PortNameKind::Parallel)
        return AsciiUpper(win32::WithoutDevicePrefix(port));
    return AsciiUpper(port);
}

const char* PortHelp() {
    return "COM1..COM7, LPT1..LPT4, USB, \\\\.\\COMn for ports above 9 (\\\\.\\COM12), or a network "
           "printer tcp://HOST[:PORT] (port 9100 when left out; an IPv6 HOST in brackets)";
}

const char* UsageExamples() {
    return "  pinwright-cli -p COM1 get\n"
           "  pinwright-cli -p COM3 --baud 115200 set baud-rate=19200 code-page=PC858\n"
           "  pinwright-cli --json -p COM3 -p \\\\.\\COM12 apply shop.sts\n"
           "  pinwright-cli -p tcp://192.168.1.50 -p tcp://till3.shop.lan apply shop.sts\n"
           "  pinwright-cli ports\n";
}

StopRequests::StopRequests() {
    Events& e = TheEvents();
    ::ResetEvent(e.request);
    ::ResetEvent(e.finished);
    static const bool installed = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
    (void)installed;
}

StopRequests::~StopRequests() {
    ::SetEvent(TheEvents().finished);
}

int StopRequests::Wait(unsigned ms) {
    if (::WaitForSingleObject(TheEvents().request, ms) != WAIT_OBJECT_0) return 0;
    return TheEvents().exit.load();
}

// Windows has no SIGPIPE: output that cannot be written (a pipe whose reader went away, a console or file
// that takes nothing more) is the stop request that signal is on Linux, with its exit status.
// Windows has no per-process limit of handles that a few thousand ports come near.
bool AllowDescriptors(std::size_t, std::string&) {
    return true;
}

std::size_t DescriptorsInUse() {
    return 0;
}

bool WriteNewFileLike(const std::string& path, const std::string&, const std::string& text,
                      std::string& error) {
    const HANDLE file = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = path + ": " + win32::SystemMessage(::GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && ::FlushFileBuffers(file);
    DWORD why = ok ? 0 : ::GetLastError();
    if (!::CloseHandle(file) && ok) {
        ok = false;
        why = ::GetLastError();
    }
    if (!ok) {
        error = path + ": " + win32::SystemMessage(why);
        ::DeleteFileW(win32::Widen(path).c_str());
    }
    return ok;
}

bool WriteOutput(std::FILE* out, const std::string& text) {
    const bool written = std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0;
    if (!written) {
        std::clearerr(out);
        Events& e = TheEvents();
        e.exit = OutputGoneExit();
        ::SetEvent(e.request);
    }
    return written;
}

int OutputGoneExit() {
    return 128 + 13; // SIGPIPE's number on Linux, so that both builds end alike
}

} // namespace pw::cli
