#include "exporter/stop_signal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace pw::exporter {

namespace {

sigset_t Signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1); // Release()
    return set;
}

} // namespace

StopSignal::StopSignal() {
    const sigset_t set = Signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A scraper that goes away mid-answer must not end the exporter.
    signal(SIGPIPE, SIG_IGN);
}

StopSignal::~StopSignal() = default;

std::string StopSignal::Wait() {
    const sigset_t set = Signals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR1) return "";
        m_received.store(true);
        return sig == SIGTERM ? "SIGTERM" : sig == SIGINT ? "SIGINT" : "SIGHUP";
    }
}

void StopSignal::Release() {
    if (!m_received.load()) kill(getpid(), SIGUSR1);
}

} // namespace pw::exporter
