// window-ping.exe: asks a top-level window, found by its title, what Windows asks of a window to tell
// whether it responds: WM_NULL through SendMessageTimeout, every 20 ms for SECONDS, each answer timed. It
// prints "answering" once the first answer came, then a summary, and fails when an answer took longer than
// LIMIT_MS.
// Usage: window-ping.exe TITLE SECONDS LIMIT_MS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int Usage() {
    std::fprintf(stderr, "usage: window-ping.exe TITLE SECONDS LIMIT_MS\n");
    return 2;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc != 4) return Usage();
    HWND window = ::FindWindowW(nullptr, argv[1]);
    if (!window) {
        std::fprintf(stderr, "window-ping: no window of that title\n");
        return 2;
    }
    const double seconds = std::wcstod(argv[2], nullptr), limitMs = std::wcstod(argv[3], nullptr);
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    int sent = 0, answered = 0;
    double longest = 0, longestAt = 0;
    while (Clock::now() < end) {
        const auto t0 = Clock::now();
        DWORD_PTR result = 0;
        ++sent;
        // Waits twice the limit, so that a late answer is measured rather than cut off.
        const bool ok = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL,
                                              static_cast<UINT>(2 * limitMs), &result) != 0;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (ms > longest) {
            longest = ms;
            longestAt = std::chrono::duration<double, std::milli>(t0 - start).count();
        }
        if (ok && answered++ == 0) {
            std::printf("answering\n");
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("pings %d, answered %d, longest wait %.0f ms at %.0f ms (limit %.0f ms)\n", sent, answered,
                longest, longestAt, limitMs);
    std::fflush(stdout);
    return sent > 0 && answered == sent && longest <= limitMs ? 0 : 1;
}
