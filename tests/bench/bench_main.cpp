// pinwright-bench: the printer sequences through the dialogs' own handlers (offscreen, message boxes answered
// at once) against pinwright-sim over a pseudo-terminal. Prints, for each operation and line, the median wall
// time, the floor (the sequence's fixed waits plus the bytes' transmission time at a paced line rate), their
// ratio, the CPU time as a share of the wall time, and the longest time the user-interface thread was busy
// meanwhile (in runs of their own, since measuring it takes CPU). Usage: pinwright-bench [--quick]
#include "dialogs/switch_dlg.h"
#include "framework/qt/qt_framework.h"
#include "res/resource.h"
#include "res/resources.h"
#include "tests/support/dialog_test.h"
#include "tests/support/sim_process.h"

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pw;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Sample {
    double wall, cpu;
};

// Milliseconds since this process started (the kernel counts its start in clock ticks since boot).
double ProcessAgeMs() {
    FILE* f = std::fopen("/proc/self/stat", "r");
    if (!f) return 0;
    char buf[1024] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const char* p = std::strrchr(buf, ')'); // the command name may hold spaces
    if (!p || n == 0) return 0;
    unsigned long long start = 0;
    int field = 2;
    for (const char* q = p + 1; *q && field < 22; ++q)
        if (*q == ' ' && ++field == 22) start = std::strtoull(q + 1, nullptr, 10);
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return (static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - static_cast<double>(start) / ticks) *
           1000.0;
}

Sample Measure(const std::function<void()>& action) {
    // What the window still had to do (painting what changed before) is not the action's.
    QCoreApplication::processEvents();
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    action();
    return {std::chrono::duration<double>(Clock::now() - t0).count(), CpuSeconds() - cpu0};
}

// The longest time (ms) the user-interface thread was busy during `action`, run on it: a thread posts a call
// to it every millisecond and times how long each waits to run, as a window manager's ping waits for its
// answer. What waits past the action's end counts only up to it.
double LongestUiBusy(const std::function<void()>& action) {
    QCoreApplication::processEvents();
    QObject context;
    std::mutex mutex;
    double longest = 0;
    bool ended = false;
    Clock::time_point end;
    auto ping = [&] {
        const auto posted = Clock::now();
        QMetaObject::invokeMethod(
            &context,
            [&, posted] {
                std::lock_guard lock(mutex);
                const auto ran = ended ? std::min(Clock::now(), end) : Clock::now();
                longest = std::max(longest, std::chrono::duration<double, std::milli>(ran - posted).count());
            },
            Qt::QueuedConnection);
    };
    std::atomic<bool> running{true};
    ping();
    std::thread pinger([&] {
        while (running.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ping();
        }
    });
    action();
    {
        std::lock_guard lock(mutex);
        end = Clock::now();
        ended = true;
    }
    running.store(false);
    pinger.join();
    QCoreApplication::processEvents(); // the calls still queued
    return longest;
}

// Fixed waits (ms) and the bytes both ways of each sequence, as the tool sends them to an LTX-580 whose
// identity texts are "2.10 SIM", "MERIDOX" and "LTX-580".
struct Sequence {
    const char* name;
    double waitsMs;
    int bytes;
};
// Connection check: 11 bytes out, "." back; 10 ms before the read.
const Sequence kCheck = {"Connection check", 10, 12};
// Pre-check with identification (20 out; 10 + 9 + 9 + 1 back; 10 + 1000 + 10 + 1000 + 10 + 10 ms) and the
// reads (3 x 7 + 3 out; 3 x 11 back; 3 x 10 ms).
const Sequence kFirstGet = {"First Get Status", 2070, 20 + 29 + 24 + 33};
// Pre-check without identification (11 out, 1 back, 10 ms) and the reads.
const Sequence kLaterGet = {"Later Get Status", 40, 12 + 24 + 33};
// Pre-check; user setting mode (8 out, 3 back, 1000 ms), status (3 out, 1 back, 100 ms), three change
// commands (45), end of mode (9), select (3), two closing seconds.
const Sequence kSet = {"Set Status", 10 + 3100, 12 + 8 + 3 + 3 + 1 + 45 + 9 + 3};

struct Row {
    std::string operation, line;
    std::vector<Sample> samples;
    double floorMs;
    double uiBusyMs = 0; // the longest over its runs
};

void Print(const std::vector<Row>& rows) {
    std::printf(
        "| Operation | Line | Runs | Median wall | Floor | Wall / floor | CPU / wall | Longest UI busy |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& r : rows) {
        std::vector<double> walls;
        double wall = 0, cpu = 0;
        for (auto& s : r.samples) walls.push_back(s.wall), wall += s.wall, cpu += s.cpu;
        std::sort(walls.begin(), walls.end());
        const double median = walls[walls.size() / 2] * 1000;
        std::printf("| %s | %s | %zu | %.1f ms | %.1f ms | %.3f | %.2f %% | %.1f ms |\n", r.operation.c_str(),
                    r.line.c_str(), r.samples.size(), median, r.floorMs, median / r.floorMs,
                    100.0 * cpu / wall, r.uiBusyMs);
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int runs = quick ? 1 : 7;
    const int busyRuns = quick ? 1 : 3;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    RegisterProgramResources();
    qt::InstallQtFramework();
    SetMessageBoxPresenter([](const std::string&, unsigned, const std::string&) { return IDOK; });

    double startupMs = 0;
    std::vector<Row> rows;
    struct LineSpeed {
        const char* label;
        int pace; // 0: as fast as the pseudo-terminal goes
    };
    const std::vector<LineSpeed> lines =
        quick ? std::vector<LineSpeed>{{"pty, unpaced", 0}}
              : std::vector<LineSpeed>{{"pty, unpaced", 0}, {"115200 baud", 115200}, {"9600 baud", 9600}};
    for (const auto& line : lines) {
        std::vector<std::string> args;
        if (line.pace) args = {"--pace", std::to_string(line.pace)};
        test::SimProcess sim(args);
        ::setenv("PINWRIGHT_COM1", sim.PtyPath().c_str(), 1);
        const double byteMs = line.pace ? 10000.0 / line.pace : 0.0;
        auto floor = [&](const Sequence& s) { return s.waitsMs + s.bytes * byteMs; };
        Row check{kCheck.name, line.label, {}, floor(kCheck)},
            first{kFirstGet.name, line.label, {}, floor(kFirstGet)},
            later{kLaterGet.name, line.label, {}, floor(kLaterGet)},
            set{kSet.name, line.label, {}, floor(kSet)};

        CSwitchDlg dlg;
        PushModalHandler([&](CDialog&) {
            if (startupMs == 0) startupMs = ProcessAgeMs();
            test::Choose(dlg.m_commDlg, IDC_COMM_BAUD, 4);
            for (int i = 0; i < runs; ++i) {
                test::Click(dlg.m_commDlg, IDC_INTERFACE_SERIAL); // drops the connection for the next check
                check.samples.push_back(Measure([&] { test::Click(dlg.m_commDlg, IDC_CHECK_COMM); }));
            }
            for (int i = 0; i < busyRuns; ++i) {
                test::Click(dlg.m_commDlg, IDC_INTERFACE_SERIAL);
                check.uiBusyMs = std::max(check.uiBusyMs,
                                          LongestUiBusy([&] { test::Click(dlg.m_commDlg, IDC_CHECK_COMM); }));
            }
            test::Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        });
        PushModalHandler([&](CDialog&) {
            for (int i = 0; i < runs; ++i) {
                dlg.m_strFirmware.clear(); // identify again, as after connecting
                first.samples.push_back(Measure([&] { test::Click(dlg, IDC_GET_STATUS); }));
                later.samples.push_back(Measure([&] { test::Click(dlg, IDC_GET_STATUS); }));
                set.samples.push_back(Measure([&] { test::Click(dlg, IDC_SET_STATUS); }));
            }
            for (int i = 0; i < busyRuns; ++i) {
                dlg.m_strFirmware.clear();
                for (auto [row, id] : {std::pair{&first, IDC_GET_STATUS}, std::pair{&later, IDC_GET_STATUS},
                                       std::pair{&set, IDC_SET_STATUS}})
                    row->uiBusyMs = std::max(row->uiBusyMs, LongestUiBusy([&] { test::Click(dlg, id); }));
            }
        });
        dlg.DoModal();
        rows.insert(rows.end(), {check, first, later, set});
    }
    Print(rows);
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    std::printf("\nProcess start to the communication dialog shown: %.0f ms (offscreen, 10 ms resolution).\n",
                startupMs);
    std::printf("Peak resident memory: %.1f MB.\n", static_cast<double>(u.ru_maxrss) / 1024.0);
    return 0;
}
