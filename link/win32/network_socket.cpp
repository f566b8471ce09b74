#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "link/win32/network_socket.h"

#include "link/win32/device_names.h"

#include <algorithm>
#include <mutex>

namespace pw::win32 {

namespace {

// A stop asked of a reader is looked at this often while it waits.
constexpr std::uint32_t kStopSliceMs = 20;

SOCKET S(Socket s) {
    return static_cast<SOCKET>(s);
}

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

// Waits until the socket can be read (read = true) or written, up to `ms`. 1 ready, 0 not yet, -1 failed.
int WaitFor(Socket s, bool read, std::uint32_t ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(S(s), &set);
    timeval tv = Timeval(ms);
    const int r = ::select(0, read ? &set : nullptr, read ? nullptr : &set, nullptr, &tv);
    return r == SOCKET_ERROR ? -1 : r;
}

std::string ErrorText(int error) {
    char text[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s.empty() ? "Winsock error " + std::to_string(error) : s;
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

// One connection attempt to `ai` until `deadline`: the socket, or kNoSocket with the Winsock error.
Socket TryConnect(const addrinfo& ai, ULONGLONG deadline, int& error) {
    SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return kNoSocket;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            ::closesocket(s);
            return kNoSocket;
        }
        // A connection is made when the socket can be written; a failed one shows in the exceptions.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv = Timeval(Left(deadline));
        const int r = ::select(0, nullptr, &writable, &failed, &tv);
        if (r == 0) {
            error = WSAETIMEDOUT;
        } else if (r == SOCKET_ERROR) {
            error = ::WSAGetLastError();
        } else if (FD_ISSET(s, &failed)) {
            int soError = 0;
            int len = sizeof soError;
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            error = soError != 0 ? soError : WSAECONNREFUSED;
        } else {
            error = 0;
        }
        if (error != 0) {
            ::closesocket(s);
            return kNoSocket;
        }
    }
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<Socket>(s);
}

// The printer closed its side: a read would show the end of the stream.
bool ClosedByPeer(Socket s) {
    if (WaitFor(s, true, 0) != 1) return false;
    char b;
    return ::recv(S(s), &b, 1, MSG_PEEK) == 0;
}

} // namespace

Socket ConnectTcp(const NetworkAddress& address, std::uint32_t limitMs, ConnectFailure& why,
                  std::string& detail) {
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    int error = 0;
    if (!StartWinsock(error)) {
        why = ConnectFailure::Other;
        detail = "Winsock did not start: " + ErrorText(error);
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int gai = ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (gai != 0) {
        why = ConnectFailureOf(static_cast<std::uint32_t>(gai));
        detail = ErrorText(gai);
        return kNoSocket;
    }
    Socket s = kNoSocket;
    error = WSAETIMEDOUT;
    for (const addrinfo* ai = found; ai && s == kNoSocket; ai = ai->ai_next) {
        if (Left(deadline) == 0) {
            error = WSAETIMEDOUT;
            break;
        }
        s = TryConnect(*ai, deadline, error);
    }
    ::freeaddrinfo(found);
    if (s == kNoSocket) {
        why = ConnectFailureOf(static_cast<std::uint32_t>(error));
        detail = ErrorText(error);
    }
    return s;
}

bool SendWithin(Socket s, const std::uint8_t* data, std::uint32_t length, std::uint32_t limitMs,
                std::uint32_t& written, std::uint32_t& error) {
    written = 0;
    error = 0;
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    // A printer never half-closes its connection: once it closed its side, the connection is gone.
    if (ClosedByPeer(s)) {
        error = WSAECONNRESET;
        return false;
    }
    while (written < length) {
        const int ready = WaitFor(s, false, Left(deadline));
        if (ready < 0) {
            error = static_cast<std::uint32_t>(::WSAGetLastError());
            return false;
        }
        if (ready == 0) break; // the attempt's time limit: report what went out
        const int chunk = static_cast<int>(std::min<std::uint32_t>(length - written, 0x10000));
        const int n = ::send(S(s), reinterpret_cast<const char*>(data + written), chunk, 0);
        if (n == SOCKET_ERROR) {
            const int e = ::WSAGetLastError();
            if (e == WSAEWOULDBLOCK) continue;
            error = static_cast<std::uint32_t>(e);
            return false;
        }
        written += static_cast<std::uint32_t>(n);
    }
    return true;
}

std::uint32_t ReceiveWithin(Socket s, std::uint8_t* buffer, std::uint32_t length, std::uint32_t limitMs,
                            bool anyBytes, void* stop) {
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    std::uint32_t got = 0;
    while (got < length) {
        if (stop && ::WaitForSingleObject(static_cast<HANDLE>(stop), 0) == WAIT_OBJECT_0) break;
        const std::uint32_t left = Left(deadline);
        const int ready = WaitFor(s, true, stop ? std::min(left, kStopSliceMs) : left);
        if (ready < 0) break;
        if (ready == 0) {
            if (left == 0) break;
            continue;
        }
        const int chunk = static_cast<int>(std::min<std::uint32_t>(length - got, 0x10000));
        const int n = ::recv(S(s), reinterpret_cast<char*>(buffer + got), chunk, 0);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            if (anyBytes) break;
            continue;
        }
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) continue;
        break; // the printer closed the connection, or it failed: what came is the result
    }
    return got;
}

bool CloseSocket(Socket s) {
    ::shutdown(S(s), SD_SEND);
    char scratch[256];
    while (::recv(S(s), scratch, sizeof scratch, 0) > 0) {}
    return ::closesocket(S(s)) == 0;
}

} // namespace pw::win32
