// pinwright-soak: Check Communication, Get Status and Set Status in a loop through the dialogs' own handlers
// (offscreen, message boxes answered at once) against pinwright-sim, alternating the serial pseudo-terminal
// and the USB folder. Reports the operations done, the failures, and the program's open descriptors, threads
// and resident memory after a warm-up and at the end. Exits 1 on any failure or growth past a small fixed
// margin. Usage: pinwright-soak [minutes] (default 10)
#include "dialogs/switch_dlg.h"
#include "framework/qt/qt_framework.h"
#include "link/usb_discovery.h"
#include "res/resource.h"
#include "tests/support/dialog_test.h"
#include "tests/support/sim_process.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace pw;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Usage {
    long fds = 0, threads = 0, rssKb = 0;
};

long StatusField(const std::string& name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    return -1;
}

Usage Measure() {
    Usage u;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++u.fds;
    u.threads = StatusField("Threads");
    u.rssKb = StatusField("VmRSS");
    return u;
}

// Growth allowed between the warm-up and the end: none in descriptors and threads beyond jitter, a few
// megabytes of heap.
constexpr long kFdMargin = 2, kThreadMargin = 1, kRssMarginKb = 6 * 1024;

} // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: pinwright-soak [minutes]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    qt::InstallQtFramework();
    test::MessageRecorder messages;
    std::FILE* quiet = std::tmpfile(); // the USB discovery's diagnostic lines
    SetDiscoveryOutput(quiet);

    const fs::path dir = fs::temp_directory_path() / ("pinwright-soak-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string state = (dir / "printer.state").string();
    test::SimProcess sim(
        {"--link", (dir / "tty").string(), "--usb-dir", (dir / "usb").string(), "--state", state});
    ::setenv("PINWRIGHT_COM1", (dir / "tty").c_str(), 1);
    ::setenv("PINWRIGHT_USB_DIR", (dir / "usb").c_str(), 1);

    long operations = 0, failures = 0, cycles = 0;
    Usage warm{}, end{};
    auto expect = [&](const char* what, const std::string& text) {
        ++operations;
        const auto shown = messages.Texts();
        if (shown.empty() || shown.back() != text) {
            ++failures;
            std::fprintf(stderr, "cycle %ld: %s said \"%s\"\n", cycles, what,
                         shown.empty() ? "nothing" : shown.back().c_str());
        }
        messages.shown.clear();
    };

    CSwitchDlg dlg;
    // The communication dialog: the interface, the check, Run Manager.
    auto connect = [&](bool usb) {
        return [&, usb](CDialog&) {
            test::Click(dlg.m_commDlg, usb ? IDC_INTERFACE_USB : IDC_INTERFACE_SERIAL);
            if (!usb) test::Choose(dlg.m_commDlg, IDC_COMM_BAUD, 4);
            test::Click(dlg.m_commDlg, IDC_CHECK_COMM);
            expect("Check Communication", "Printer is connected.");
            test::Click(dlg.m_commDlg, IDC_RUN_MANAGER);
        };
    };
    PushModalHandler(connect(false));
    PushModalHandler([&](CDialog&) {
        const auto deadline = Clock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
        for (; cycles < 2 || Clock::now() < deadline; ++cycles) {
            if (cycles > 0) {
                PushModalHandler(connect(cycles % 2 == 1));
                test::Click(dlg, IDC_CHANGE_COMM);
            }
            test::Click(dlg, IDC_GET_STATUS);
            expect("Get Status", "Success to get status of printer.");
            test::Click(dlg, IDC_GET_STATUS);
            expect("Get Status", "Success to get status of printer.");
            test::Choose(dlg, IDC_CODE_PAGE, static_cast<int>(cycles % 19));
            test::Click(dlg, IDC_SET_STATUS);
            expect("Set Status", "Success to set status of printer");
            if (cycles == 1) warm = Measure(); // both interfaces have run once
        }
        end = Measure();
    });
    dlg.DoModal();
    sim.Stop();
    fs::remove_all(dir);

    std::printf("Soak: %.1f min, %ld cycles, %ld operations, %ld failures.\n", minutes, cycles, operations,
                failures);
    std::printf("| | Open descriptors | Threads | Resident memory |\n|---|---:|---:|---:|\n");
    std::printf("| after warm-up | %ld | %ld | %.1f MB |\n", warm.fds, warm.threads, warm.rssKb / 1024.0);
    std::printf("| at the end | %ld | %ld | %.1f MB |\n", end.fds, end.threads, end.rssKb / 1024.0);
    bool grew = false;
    if (end.fds > warm.fds + kFdMargin) grew = true, std::printf("Open descriptors grew.\n");
    if (end.threads > warm.threads + kThreadMargin) grew = true, std::printf("Threads grew.\n");
    if (end.rssKb > warm.rssKb + kRssMarginKb) grew = true, std::printf("Resident memory grew.\n");
    return failures == 0 && !grew ? 0 : 1;
}
