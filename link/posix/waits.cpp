#include "link/posix/waits.h"

#include "link/posix/posix_device.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pw::posix {

namespace {

class EventFdWake : public WakeSignal {
  public:
    explicit EventFdWake(int fd) : m_fd(fd) {}
    ~EventFdWake() override { ::close(m_fd); }
    void Raise() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_fd, &one, sizeof one);
    }
    std::intptr_t Native() const override { return m_fd; }

  private:
    int m_fd;
};

} // namespace

std::uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

int PollTimeout(std::uint64_t deadlineMs, std::uint64_t nowMs) {
    if (nowMs >= deadlineMs) return 0;
    return static_cast<int>(std::min<std::uint64_t>(deadlineMs - nowMs, std::numeric_limits<int>::max()));
}

std::unique_ptr<WakeSignal> MakeEventFdWake() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return nullptr;
    return std::make_unique<EventFdWake>(fd);
}

Waited WaitFor(int fd, short events, std::uint64_t deadlineMs, short& revents, bool stoppable) {
    revents = 0;
    const Worker* worker = stoppable ? WorkerThreads::Current() : nullptr;
    for (;;) {
        if (worker && worker->stopped) return Waited::Stopped;
        // A negative descriptor is ignored by poll(): a worker without a wake-up object waits its limit.
        pollfd p[2] = {{fd, events, 0}, {static_cast<int>(worker ? worker->WakeHandle(-1) : -1), POLLIN, 0}};
        const int r = ::poll(p, worker ? 2 : 1, PollTimeout(deadlineMs, NowMs()));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Waited::Failed;
        if (r == 0) return Waited::TimedOut;
        if (worker && (p[1].revents & POLLIN)) return Waited::Stopped;
        revents = p[0].revents;
        return Waited::Ready;
    }
}

std::uint64_t WriteDeadline(const TimeLimits& l, std::uint32_t length) {
    std::uint64_t budget = static_cast<std::uint64_t>(l.writeTotalMultiplier) * length + l.writeTotalConstant;
    if (budget == 0) budget = 5ull * length + 1000;
    return NowMs() + budget;
}

bool WriteWithin(int fd, const std::uint8_t* data, std::uint32_t length, std::uint64_t deadline,
                 bool connection, std::uint32_t& written) {
    written = 0;
    const short events = static_cast<short>(POLLOUT | (connection ? POLLRDHUP : 0));
    const short gone = static_cast<short>(POLLERR | POLLNVAL | (connection ? POLLRDHUP | POLLHUP : 0));
    while (written < length) {
        short revents = 0;
        const Waited w = WaitFor(fd, events, deadline, revents, false);
        if (w == Waited::Failed) return Fail(ErrorFromErrno(errno));
        if (w != Waited::Ready) break; // the attempt's time limit: report what went out
        if (revents & gone) return Fail(kErrorGenFailure);
        const ssize_t n = connection ? ::send(fd, data + written, length - written, MSG_NOSIGNAL)
                                     : ::write(fd, data + written, length - written);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return Fail(ErrorFromErrno(errno));
        }
        written += static_cast<std::uint32_t>(n);
    }
    return true;
}

std::uint32_t ReadWithin(int fd, std::uint8_t* buffer, std::uint32_t length, const TimeLimits& l) {
    const bool anyBytes = l.readInterval == kMaxDword && l.readTotalMultiplier == kMaxDword;
    std::uint64_t budget =
        anyBytes ? l.readTotalConstant
                 : static_cast<std::uint64_t>(l.readTotalMultiplier) * length + l.readTotalConstant;
    if (budget == 0) budget = 5000;
    const std::uint64_t deadline = NowMs() + budget;
    std::uint32_t read = 0;
    while (read < length) {
        short revents = 0;
        if (WaitFor(fd, POLLIN, deadline, revents, true) != Waited::Ready) break; // what came is the result
        if (revents & POLLIN) {
            const ssize_t n = ::read(fd, buffer + read, length - read);
            if (n > 0) {
                read += static_cast<std::uint32_t>(n);
                if (anyBytes) break;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            break;
        }
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) break; // the other end is gone
    }
    return read;
}

} // namespace pw::posix
