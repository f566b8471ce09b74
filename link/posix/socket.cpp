// Connections to network printers ("tcp://HOST[:PORT]"): made within kConnectLimitMs through the shared
// connect loop, then written and read within the port's time limits, and closed so that what was written
// still reaches the printer.
#include "link/posix/posix_device.h"

#include "link/connect_within.h"
#include "link/posix/waits.h"

#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace pw::posix {

namespace {

// What a close or purge reads off a printer that keeps talking, at most.
constexpr std::size_t kDrainBytes = 64 * 1024;

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

bool Resolve(const NetworkAddress& address, std::vector<ResolvedAddress>& found, ConnectFailure& why,
             std::string& detail) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // An address is taken as written, never handed to a name server.
    hints.ai_flags = AI_NUMERICSERV | (address.numeric ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    const int gai = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &list);
    if (gai != 0) {
        why = (gai == EAI_NONAME || gai == EAI_AGAIN || gai == EAI_FAIL || gai == EAI_NODATA)
                  ? ConnectFailure::HostNotFound
                  : ConnectFailure::Other;
        detail = gai == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(gai);
        return false;
    }
    TakeAddresses(list, found);
    ::freeaddrinfo(list);
    return true;
}

class PosixConnectSteps : public ConnectSteps {
  public:
    std::intptr_t Attempt(const ResolvedAddress& to, std::uint64_t deadline, ConnectFailure& why,
                          std::string& detail) override {
        const int fd = ::socket(to.family, to.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, to.protocol);
        if (fd < 0) return Failed(-1, errno, why, detail);
        const auto* addr = reinterpret_cast<const sockaddr*>(to.sockaddr.data());
        if (::connect(fd, addr, static_cast<socklen_t>(to.sockaddr.size())) != 0) {
            if (errno != EINPROGRESS) return Failed(fd, errno, why, detail);
            short revents = 0;
            switch (WaitFor(fd, POLLOUT, deadline, revents, true)) {
            case Waited::Stopped:
                ::close(fd);
                why = ConnectFailure::Stopped;
                detail.clear();
                return -1;
            case Waited::TimedOut:
                return Failed(fd, ETIMEDOUT, why, detail);
            case Waited::Failed:
                return Failed(fd, errno, why, detail);
            case Waited::Ready:
                break;
            }
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err != 0) return Failed(fd, err, why, detail);
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // each command goes out as written
        return fd;
    }
    std::uint64_t NowMs() override { return posix::NowMs(); }
    void Sleep(std::uint32_t ms) override {
        timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
    }
    bool Stopped() override { return WorkerThreads::CurrentStopped(); }

  private:
    static std::intptr_t Failed(int fd, int err, ConnectFailure& why, std::string& detail) {
        if (fd >= 0) ::close(fd);
        why = FailureOf(err);
        detail = std::strerror(err);
        return -1;
    }
};

class Connection : public PosixDevice {
  public:
    Connection(int fd, std::string name) : m_fd(fd) { path = std::move(name); }
    ~Connection() override { Connection::Close(); }

    bool GetLine(LineSettings&, std::string& problem) override {
        problem = path + " is a network printer: it has no serial line settings.";
        return Fail(kErrorGenFailure);
    }
    bool SetLine(const LineSettings&) override { return Fail(kErrorGenFailure); }

    void Purge(std::uint32_t flags) override {
        if (flags & kPurgeInput) Drain();
    }

    bool Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        return WriteWithin(m_fd, data, length, WriteDeadline(limits, length), true, written);
    }

    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t length) override {
        return ReadWithin(m_fd, buffer, length, limits);
    }

    // No more is sent; what the printer sent is taken (unread bytes would make the close a reset, which
    // drops what is still queued), and the close waits, within kCloseLingerMs, for the queue to be
    // acknowledged. A printer that keeps sending cannot hold it longer.
    void Close() override {
        if (m_fd < 0) return;
        const std::uint64_t deadline = NowMs() + kCloseLingerMs;
        ::shutdown(m_fd, SHUT_WR);
        for (;;) {
            Drain();
            int queued = 0;
            if (::ioctl(m_fd, SIOCOUTQ, &queued) != 0 || queued == 0) break;
            if (PollTimeout(deadline, NowMs()) == 0) break;
            ::poll(nullptr, 0, 10);
        }
        ::close(m_fd);
        m_fd = -1;
    }

  private:
    // Takes what is waiting now, up to a bound.
    void Drain() {
        std::uint8_t scratch[4096];
        for (std::size_t taken = 0; taken < kDrainBytes;) {
            const ssize_t n = ::recv(m_fd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (n <= 0) break;
            taken += static_cast<std::size_t>(n);
        }
    }

    int m_fd;
};

} // namespace

std::unique_ptr<PosixDevice> ConnectNetworkPrinter(const std::string& name, std::string& problem,
                                                   std::uint32_t limitMs) {
    NetworkAddress address;
    std::string detail;
    ConnectFailure why = ConnectFailure::BadName;
    std::intptr_t fd = -1;
    if (ParseNetworkAddress(name, address, detail)) {
        PosixConnectSteps steps;
        fd = ConnectWithin(steps, Resolve, address, limitMs, why, detail);
    }
    if (fd < 0) {
        problem = ConnectProblem(name, why, detail, limitMs);
        Fail(why == ConnectFailure::BadName || why == ConnectFailure::HostNotFound ? kErrorFileNotFound
             : why == ConnectFailure::Other                                        ? kErrorUnexpectedNetwork
                                                                                   : kErrorGenFailure);
        return nullptr;
    }
    return std::make_unique<Connection>(static_cast<int>(fd), address.Name());
}

bool LookUpNetworkHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                       std::string& problem) {
    found.clear();
    NetworkAddress address;
    std::string detail;
    ConnectFailure why = ConnectFailure::BadName;
    std::vector<ResolvedAddress> addresses;
    if (ParseNetworkAddress(name, address, detail)) {
        PosixConnectSteps steps;
        if (LookUpWithin(steps, Resolve, address, limitMs, addresses, why, detail)) {
            why = ConnectFailure::HostNotFound;
            for (const ResolvedAddress& a : addresses) {
                char host[NI_MAXHOST];
                if (::getnameinfo(reinterpret_cast<const sockaddr*>(a.sockaddr.data()),
                                  static_cast<socklen_t>(a.sockaddr.size()), host, sizeof host, nullptr, 0,
                                  NI_NUMERICHOST) == 0)
                    found.push_back(host);
            }
        }
    }
    if (found.empty()) {
        problem = ConnectProblem(name, why, detail, limitMs);
        return false;
    }
    return true;
}

} // namespace pw::posix
