// pinwright-wm-ping: what a window manager asks of a window, for the real-window tests on an X display that
// has none. "ping" sends _NET_WM_PING every 20 ms for SECONDS and times each answer, as a desktop does to
// tell a window that does not respond; it prints "answering" once the first answer came, then a summary, and
// fails when a ping went unanswered or an answer took longer than LIMIT_MS. "close" sends WM_DELETE_WINDOW,
// as a window manager's close box does.
// Usage: pinwright-wm-ping ping WINDOW SECONDS LIMIT_MS | pinwright-wm-ping close WINDOW
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/select.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Send(Display* d, Window w, Atom protocols, Atom protocol, long serial) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = protocols;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(protocol);
    e.xclient.data.l[1] = serial; // the time stamp a window manager would send; here it names the ping
    e.xclient.data.l[2] = static_cast<long>(w);
    XSendEvent(d, w, False, NoEventMask, &e);
    XFlush(d);
}

int Usage() {
    std::fprintf(stderr, "usage: pinwright-wm-ping ping WINDOW SECONDS LIMIT_MS | close WINDOW\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const bool ping = std::strcmp(argv[1], "ping") == 0;
    if (!ping && std::strcmp(argv[1], "close") != 0) return Usage();
    if (ping && argc != 5) return Usage();
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "pinwright-wm-ping: no X display\n");
        return 2;
    }
    const Window w = std::strtoul(argv[2], nullptr, 0);
    const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    if (!ping) {
        Send(d, w, protocols, XInternAtom(d, "WM_DELETE_WINDOW", False), CurrentTime);
        XCloseDisplay(d);
        return 0;
    }

    const Atom netPing = XInternAtom(d, "_NET_WM_PING", False);
    const double seconds = std::atof(argv[3]), limitMs = std::atof(argv[4]);
    // The answer goes to the root window, for the window manager: to whoever listens there for changes of
    // the root (as Qt sends it) or of its children (as others do).
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, StructureNotifyMask | SubstructureNotifyMask);
    XFlush(d);

    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    const auto interval = std::chrono::milliseconds(20);
    std::map<long, Clock::time_point> outstanding;
    long next = 1;
    int sent = 0, answered = 0;
    double longest = 0, longestAt = 0;
    auto nextPing = start;
    auto record = [&](Clock::time_point sentAt, Clock::time_point now) {
        if (Ms(now - sentAt) <= longest) return;
        longest = Ms(now - sentAt);
        longestAt = Ms(sentAt - start);
    };
    for (;;) {
        const auto now = Clock::now();
        if (now >= end && outstanding.empty()) break;
        // Past the end, unanswered pings are waited for up to the limit, and count as that long.
        if (now >= end + std::chrono::milliseconds(static_cast<long>(limitMs))) {
            for (auto& [serial, at] : outstanding) record(at, now);
            break;
        }
        if (now < end && now >= nextPing) {
            outstanding[next] = now;
            Send(d, w, protocols, netPing, next++);
            ++sent;
            nextPing = now + interval;
        }
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type != ClientMessage || e.xclient.message_type != protocols ||
                static_cast<Atom>(e.xclient.data.l[0]) != netPing)
                continue;
            auto it = outstanding.find(e.xclient.data.l[1]);
            if (it == outstanding.end()) continue;
            record(it->second, Clock::now());
            outstanding.erase(it);
            if (answered++ == 0) {
                std::printf("answering\n");
                std::fflush(stdout);
            }
        }
        // The oldest unanswered ping counts as it ages, so a window that stops answering shows at once.
        if (!outstanding.empty()) record(outstanding.begin()->second, Clock::now());
        timeval tv{0, 2000};
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(d), &fds);
        select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv);
    }
    std::printf("pings %d, answered %d, longest wait %.0f ms at %.0f ms (limit %.0f ms)\n", sent, answered,
                longest, longestAt, limitMs);
    XCloseDisplay(d);
    return sent > 0 && answered == sent && longest <= limitMs ? 0 : 1;
}
