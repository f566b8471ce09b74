#include "link/posix/network_connect.h"

#include "link/posix/posix_device_services.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pw::posix {

namespace {

std::uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

ConnectFailure FailureOf(int err) {
    switch (err) {
    case ECONNREFUSED:
        return ConnectFailure::Refused;
    case ETIMEDOUT:
        return ConnectFailure::TimedOut;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return ConnectFailure::Unreachable;
    default:
        return ConnectFailure::Other;
    }
}

// One connection attempt to `ai` until `deadline`: the socket, or -1 with errno's meaning in `err`.
int TryConnect(const addrinfo& ai, std::uint64_t deadline, int& err) {
    int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            err = errno;
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int r;
        while ((r = ::poll(&p, 1, PollTimeout(deadline, NowMs()))) < 0 && errno == EINTR) {}
        socklen_t len = sizeof err;
        if (r == 0) {
            err = ETIMEDOUT;
        } else if (r < 0) {
            err = errno;
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
            err = errno;
        }
        if (err != 0) {
            ::close(fd);
            return -1;
        }
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

int ConnectTcp(const NetworkAddress& address, std::uint32_t limitMs, ConnectFailure& why,
               std::string& detail) {
    const std::uint64_t deadline = NowMs() + limitMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int gai = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (gai != 0) {
        why = (gai == EAI_NONAME || gai == EAI_AGAIN || gai == EAI_FAIL || gai == EAI_NODATA)
                  ? ConnectFailure::HostNotFound
                  : ConnectFailure::Other;
        detail = gai == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(gai);
        return -1;
    }
    int err = ETIMEDOUT;
    int fd = -1;
    for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
        if (PollTimeout(deadline, NowMs()) == 0) {
            err = ETIMEDOUT;
            break;
        }
        fd = TryConnect(*ai, deadline, err);
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        why = FailureOf(err);
        detail = std::strerror(err);
    }
    return fd;
}

void CloseTcp(int fd, std::uint32_t lingerMs) {
    const std::uint64_t deadline = NowMs() + lingerMs;
    ::shutdown(fd, SHUT_WR);
    for (;;) {
        char scratch[256];
        while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {}
        int queued = 0;
        if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0) break;
        if (PollTimeout(deadline, NowMs()) == 0) break;
        ::poll(nullptr, 0, 10);
    }
    ::close(fd);
}

} // namespace pw::posix
