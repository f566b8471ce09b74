#include "framework/qt/stop_signals.h"

#include "framework/dialog.h"
#include "framework/qt/qt_framework.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace pw::qt {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCloseAgainMs = 50;

int signalFd = -1;

bool Ignored(int sig) {
    struct sigaction now {};
    return ::sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

} // namespace

void TakeStopSignals() {
    sigset_t taken;
    sigemptyset(&taken);
    for (int sig : kStopSignals)
        if (!Ignored(sig)) sigaddset(&taken, sig);
    if (::pthread_sigmask(SIG_BLOCK, &taken, nullptr) != 0) return;
    signalFd = ::signalfd(-1, &taken, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) ::pthread_sigmask(SIG_UNBLOCK, &taken, nullptr); // the default action, as before
}

void CloseWindowsOnStopSignals() {
    if (signalFd < 0) return;
    auto* app = QCoreApplication::instance();
    auto* notifier = new QSocketNotifier(signalFd, QSocketNotifier::Read, app);
    auto* closing = new QTimer(app);
    closing->setInterval(kCloseAgainMs);
    QObject::connect(closing, &QTimer::timeout, app, [] { CloseForStop(); });
    QObject::connect(notifier, &QSocketNotifier::activated, app, [closing] {
        signalfd_siginfo info{};
        while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (StopStatus() != 0) continue; // stopping already: a second signal changes nothing
            SetStopStatus(128 + static_cast<int>(info.ssi_signo));
            CloseForStop();
            closing->start();
        }
    });
}

} // namespace pw::qt
