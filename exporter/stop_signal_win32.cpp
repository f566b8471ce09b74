#include "exporter/stop_signal.h"

#include <windows.h>

namespace pw::exporter {

namespace {

HANDLE g_event = nullptr;
std::atomic<DWORD> g_kind{0xFFFFFFFF};

// Ctrl-C, Ctrl-Break, the console closed, a log-off or shut-down: the exporter ends as on SIGTERM.
BOOL WINAPI OnConsole(DWORD kind) {
    g_kind.store(kind);
    SetEvent(g_event);
    return TRUE;
}

} // namespace

StopSignal::StopSignal() {
    g_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsole, TRUE);
}

StopSignal::~StopSignal() {
    SetConsoleCtrlHandler(OnConsole, FALSE);
}

std::string StopSignal::Wait() {
    WaitForSingleObject(g_event, INFINITE);
    const DWORD kind = g_kind.load();
    if (kind == 0xFFFFFFFF) return "";
    m_received.store(true);
    return kind == CTRL_C_EVENT ? "SIGINT" : kind == CTRL_BREAK_EVENT ? "CTRL_BREAK" : "CTRL_CLOSE";
}

void StopSignal::Release() {
    if (!m_received.load()) SetEvent(g_event);
}

} // namespace pw::exporter
