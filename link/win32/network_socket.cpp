// Connections to network printers ("tcp://HOST[:PORT]") through Winsock: made within kConnectLimitMs
// through the shared connect loop (the lookup on a thread that may be abandoned, the addresses sharing
// the limit, a stop ending it), then written and read within the port's time limits, and closed so that
// what was written still reaches the printer. The socket stays non-blocking until its close; every wait is
// a select() in slices that also watches for a stop of the calling worker.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "link/connect_within.h"
#include "link/win32/comm_state.h"
#include "link/win32/device_names.h"
#include "link/win32/wide_text.h"
#include "link/win32/win32_device.h"

#include <algorithm>
#include <mutex>

namespace pw::win32 {

namespace {

// A stop asked of a worker is looked for this often while it waits on a socket.
constexpr std::uint32_t kStopSliceMs = 20;
// What a close or purge takes off a printer that keeps talking, at most.
constexpr std::size_t kDrainBytes = 64 * 1024;

std::uint32_t Left(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<std::uint32_t>(std::min<ULONGLONG>(deadline - now, 0x7FFFFFFF));
}

timeval Timeval(std::uint32_t ms) {
    timeval tv{};
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
    return tv;
}

// Waits up to `ms` until the socket can be read (read = true) or written. 1 ready, 0 not yet, -1 failed.
int WaitFor(SOCKET s, bool read, std::uint32_t ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = Timeval(ms);
    const int r = ::select(0, read ? &set : nullptr, read ? nullptr : &set, nullptr, &tv);
    return r == SOCKET_ERROR ? -1 : r;
}

bool StartWinsock(int& error) {
    static std::once_flag once;
    static int startError = 0;
    std::call_once(once, [] {
        WSADATA data{};
        startError = ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    error = startError;
    return startError == 0;
}

// Runs on the lookup's own thread, which may be abandoned: it owns all it uses.
bool Resolve(const NetworkAddress& address, std::vector<ResolvedAddress>& found, ConnectFailure& why,
             std::string& detail) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    // An address is taken as written, never handed to a name server.
    hints.ai_flags = AI_NUMERICSERV | (address.numeric ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    const int gai = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &list);
    if (gai != 0) {
        why = ConnectFailureOf(static_cast<std::uint32_t>(gai));
        detail = SystemMessage(static_cast<std::uint32_t>(gai));
        return false;
    }
    TakeAddresses(list, found);
    ::freeaddrinfo(list);
    return true;
}

class WinsockConnectSteps : public ConnectSteps {
  public:
    std::intptr_t Attempt(const ResolvedAddress& to, std::uint64_t deadline, ConnectFailure& why,
                          std::string& detail) override {
        const SOCKET s = ::socket(to.family, to.socktype, to.protocol);
        if (s == INVALID_SOCKET) return Failed(s, ::WSAGetLastError(), why, detail);
        u_long nonBlocking = 1;
        if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return Failed(s, ::WSAGetLastError(), why, detail);
        const auto* addr = reinterpret_cast<const sockaddr*>(to.sockaddr.data());
        if (::connect(s, addr, static_cast<int>(to.sockaddr.size())) == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) return Failed(s, error, why, detail);
            // Made when the socket can be written; a failed attempt shows in the exceptions.
            for (;;) {
                if (Stopped()) {
                    ::closesocket(s);
                    why = ConnectFailure::Stopped;
                    detail.clear();
                    return -1;
                }
                const std::uint64_t now = NowMs();
                if (now >= deadline) return Failed(s, WSAETIMEDOUT, why, detail);
                fd_set writable, failed;
                FD_ZERO(&writable);
                FD_ZERO(&failed);
                FD_SET(s, &writable);
                FD_SET(s, &failed);
                timeval tv = Timeval(
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(kStopSliceMs, deadline - now)));
                const int r = ::select(0, nullptr, &writable, &failed, &tv);
                if (r == SOCKET_ERROR) return Failed(s, ::WSAGetLastError(), why, detail);
                if (r == 0) continue;
                if (FD_ISSET(s, &failed)) {
                    int soError = 0;
                    int len = sizeof soError;
                    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
                    return Failed(s, soError != 0 ? soError : WSAECONNREFUSED, why, detail);
                }
                break;
            }
        }
        const BOOL on = TRUE; // each command goes out as written
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return static_cast<std::intptr_t>(s);
    }
    std::uint64_t NowMs() override { return ::GetTickCount64(); }
    void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
    bool Stopped() override { return WorkerThreads::CurrentStopped(); }

  private:
    static std::intptr_t Failed(SOCKET s, int error, ConnectFailure& why, std::string& detail) {
        if (s != INVALID_SOCKET) ::closesocket(s);
        why = ConnectFailureOf(static_cast<std::uint32_t>(error));
        detail = SystemMessage(static_cast<std::uint32_t>(error));
        return -1;
    }
};

class Connection : public Win32Device {
  public:
    Connection(SOCKET s, std::string name) : m_socket(s) { port = std::move(name); }
    ~Connection() override { Connection::Close(); }

    bool GetLine(LineSettings&, std::string& problem) override {
        problem = port + " is a network printer: it has no serial line settings.";
        return Fail(ERROR_INVALID_FUNCTION);
    }
    bool SetLine(const LineSettings&) override { return Fail(ERROR_INVALID_FUNCTION); }

    // Kept for the next read and write: the protocol may set a read's limit before each read.
    bool SetLimits(const TimeLimits& limits) override {
        KeepLimits(limits);
        return true;
    }

    // What the printer sent and is still waiting is thrown away, so that nothing left over from one reply
    // is taken for the next.
    void Purge(std::uint32_t flags) override {
        if (flags & kPurgeInput) Drain();
    }

    // Not cut by a stop: a command that goes out goes out whole.
    bool Write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
               PendingWrite&) override {
        written = 0;
        const TimeLimits l = Limits();
        std::uint64_t limit =
            static_cast<std::uint64_t>(l.writeTotalMultiplier) * length + l.writeTotalConstant;
        if (limit == 0 || limit >= kMaxDword) limit = 5ull * length + 1000; // never without end
        const ULONGLONG deadline = ::GetTickCount64() + limit;
        // A printer never half-closes its connection: once it closed its side, the connection is gone.
        if (ClosedByPeer()) return Fail(WSAECONNRESET);
        while (written < length) {
            const int ready = WaitFor(m_socket, false, Left(deadline));
            if (ready < 0) return Fail(static_cast<std::uint32_t>(::WSAGetLastError()));
            if (ready == 0) break; // the attempt's time limit: report what went out
            const int chunk = static_cast<int>(std::min<std::uint32_t>(length - written, 0x10000));
            const int n = ::send(m_socket, reinterpret_cast<const char*>(data + written), chunk, 0);
            if (n == SOCKET_ERROR) {
                const int e = ::WSAGetLastError();
                if (e == WSAEWOULDBLOCK) continue;
                return Fail(static_cast<std::uint32_t>(e));
            }
            written += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    // Until all came (or, with the any-bytes limits, any), the limit passed, the printer closed the
    // connection, or the calling worker was asked to stop.
    bool Read(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& read) override {
        read = 0;
        const TimeLimits l = Limits();
        const bool anyBytes = l.readInterval == kMaxDword && l.readTotalMultiplier == kMaxDword;
        const ULONGLONG deadline = ::GetTickCount64() + ReadWaitMs(l, length);
        while (read < length) {
            if (WorkerThreads::CurrentStopped()) break;
            const std::uint32_t left = Left(deadline);
            const int ready = WaitFor(m_socket, true, std::min(left, kStopSliceMs));
            if (ready < 0) break;
            if (ready == 0) {
                if (left == 0) break;
                continue;
            }
            const int chunk = static_cast<int>(std::min<std::uint32_t>(length - read, 0x10000));
            const int n = ::recv(m_socket, reinterpret_cast<char*>(buffer + read), chunk, 0);
            if (n > 0) {
                read += static_cast<std::uint32_t>(n);
                if (anyBytes) break;
                continue;
            }
            if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) continue;
            break; // the printer closed the connection, or it failed: what came is the result
        }
        return true;
    }

    // No more is sent; what the printer sent is taken, up to a bound (unread bytes would make the close a
    // reset, which drops what is still queued); then the close waits, at most kCloseLingerMs, for the queue
    // to be acknowledged (a blocking socket lingering that long). A printer that keeps sending makes the
    // close a reset at once; one that never reads holds it no longer than the linger.
    bool Close() override {
        if (m_socket == INVALID_SOCKET) return true;
        ::shutdown(m_socket, SD_SEND);
        const bool peerClosed = Drain();
        if (!peerClosed) {
            u_long blocking = 0;
            ::ioctlsocket(m_socket, FIONBIO, &blocking);
            linger wait{1, static_cast<u_short>(std::max<std::uint32_t>(1, kCloseLingerMs / 1000))};
            ::setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&wait), sizeof wait);
        }
        const bool closed = ::closesocket(m_socket) == 0;
        const int error = closed ? 0 : ::WSAGetLastError();
        m_socket = INVALID_SOCKET;
        return closed ? true : Fail(static_cast<std::uint32_t>(error));
    }

  private:
    // Takes what is waiting now, up to kDrainBytes, without waiting. True when the printer closed its side.
    bool Drain() {
        char scratch[4096];
        for (std::size_t taken = 0; taken < kDrainBytes;) {
            const int n = ::recv(m_socket, scratch, sizeof scratch, 0);
            if (n == 0) return true;
            if (n < 0) return false; // nothing more waiting, or the connection failed
            taken += static_cast<std::size_t>(n);
        }
        return false;
    }

    // The printer closed its side: a read would show the end of the stream.
    bool ClosedByPeer() {
        if (WaitFor(m_socket, true, 0) != 1) return false;
        char b;
        return ::recv(m_socket, &b, 1, MSG_PEEK) == 0;
    }

    SOCKET m_socket;
};

} // namespace

std::unique_ptr<Win32Device> ConnectNetworkPrinter(const std::string& name, std::string& problem,
                                                   std::uint32_t limitMs) {
    NetworkAddress address;
    std::string detail;
    ConnectFailure why = ConnectFailure::BadName;
    std::intptr_t s = -1;
    int error = 0;
    if (ParseNetworkAddress(name, address, detail)) {
        if (!StartWinsock(error)) {
            why = ConnectFailure::Other;
            detail = "Winsock did not start: " + SystemMessage(static_cast<std::uint32_t>(error));
        } else {
            WinsockConnectSteps steps;
            s = ConnectWithin(steps, Resolve, address, limitMs, why, detail);
        }
    }
    if (s < 0) {
        problem = ConnectProblem(name, why, detail, limitMs);
        Fail(why == ConnectFailure::BadName || why == ConnectFailure::HostNotFound ? ERROR_FILE_NOT_FOUND
             : why == ConnectFailure::Other                                        ? ERROR_UNEXP_NET_ERR
                                                                                   : ERROR_GEN_FAILURE);
        return nullptr;
    }
    return std::make_unique<Connection>(static_cast<SOCKET>(s), address.Name());
}

bool LookUpNetworkHost(const std::string& name, std::uint32_t limitMs, std::vector<std::string>& found,
                       std::string& problem) {
    found.clear();
    NetworkAddress address;
    std::string detail;
    ConnectFailure why = ConnectFailure::BadName;
    std::vector<ResolvedAddress> addresses;
    int error = 0;
    if (ParseNetworkAddress(name, address, detail)) {
        if (!StartWinsock(error)) {
            why = ConnectFailure::Other;
            detail = "Winsock did not start: " + SystemMessage(static_cast<std::uint32_t>(error));
        } else {
            WinsockConnectSteps steps;
            if (LookUpWithin(steps, Resolve, address, limitMs, addresses, why, detail)) {
                why = ConnectFailure::HostNotFound;
                for (const ResolvedAddress& a : addresses) {
                    char host[NI_MAXHOST];
                    if (::getnameinfo(reinterpret_cast<const sockaddr*>(a.sockaddr.data()),
                                      static_cast<socklen_t>(a.sockaddr.size()), host, sizeof host, nullptr,
                                      0, NI_NUMERICHOST) == 0)
                        found.push_back(host);
                }
            }
        }
    }
    if (found.empty()) {
        problem = ConnectProblem(name, why, detail, limitMs);
        return false;
    }
    return true;
}

} // namespace pw::win32
