#include "tests/support/test_listener.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace pw::test {

namespace {

constexpr std::uintptr_t kNone = ~std::uintptr_t{0};

#ifdef _WIN32
constexpr int kNoSignal = 0;
#else
constexpr int kNoSignal = MSG_NOSIGNAL; // a reset connection fails the send, it does not end the test
#endif

#ifdef _WIN32
using Native = SOCKET;
void CloseNative(std::uintptr_t s) {
    ::closesocket(static_cast<SOCKET>(s));
}
#else
using Native = int;
void CloseNative(std::uintptr_t s) {
    ::close(static_cast<int>(s));
}
#endif

Native N(std::uintptr_t s) {
    return static_cast<Native>(s);
}

// Whether `s` can be read (or written) within `ms`.
bool Ready(std::uintptr_t s, int ms, bool write = false) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(N(s), &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::select(static_cast<int>(N(s)) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr,
                    &tv) > 0;
}

bool Readable(std::uintptr_t s, int ms) {
    return Ready(s, ms);
}

bool WouldBlock() {
#ifdef _WIN32
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

void SetNonBlocking(Native s) {
#ifdef _WIN32
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
#else
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
#endif
}

} // namespace

TestListener::TestListener(int backlog, int receiveBuffer) : m_listener(kNone), m_connection(kNone) {
#ifdef _WIN32
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
#endif
    const Native s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SocketLength len = sizeof a;
    // Set before listening: the connections it takes inherit it, and their window follows it.
    if (receiveBuffer > 0)
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                     sizeof receiveBuffer);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, backlog) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("the test listener cannot listen on 127.0.0.1");
    m_listener = static_cast<std::uintptr_t>(s);
    m_port = ntohs(a.sin_port);
}

TestListener::~TestListener() {
    StopSending();
    CloseConnection();
    CloseListener();
    for (std::uintptr_t s : m_queued) CloseNative(s);
}

std::string TestListener::Name() const {
    return "tcp://127.0.0.1:" + std::to_string(m_port);
}

bool TestListener::Accept(int timeoutMs) {
    if (m_listener == kNone || !Readable(m_listener, timeoutMs)) return false;
    const Native c = ::accept(N(m_listener), nullptr, nullptr);
    if (c == static_cast<Native>(kNone) || static_cast<std::intptr_t>(c) < 0) return false;
    m_connection = static_cast<std::uintptr_t>(c);
    return true;
}

std::vector<std::uint8_t> TestListener::Receive(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_connection != kNone && got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || !Readable(m_connection, static_cast<int>(left))) break;
        char buf[64 * 1024];
        const int want = static_cast<int>(std::min(sizeof buf, count - got.size()));
        const int n = static_cast<int>(::recv(N(m_connection), buf, want, 0));
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

void TestListener::Send(const std::vector<std::uint8_t>& bytes) {
    if (m_connection == kNone) return;
    ::send(N(m_connection), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
}

bool TestListener::FillQueue() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(m_port));
    for (int i = 0; i < 64; ++i) {
        const Native s = ::socket(AF_INET, SOCK_STREAM, 0);
        SetNonBlocking(s);
        ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (!Ready(static_cast<std::uintptr_t>(s), 500, true)) {
            CloseNative(static_cast<std::uintptr_t>(s)); // neither taken nor refused: the queue is full
            return true;
        }
        m_queued.push_back(static_cast<std::uintptr_t>(s));
    }
    return false;
}

void TestListener::KeepSending(int limitMs) {
    StopSending();
    if (m_connection == kNone) return;
    SetNonBlocking(N(m_connection)); // never stuck in a send: a stop is seen within a slice
    m_sending = true;
    m_sender = std::thread([this, limitMs] {
        const std::vector<char> bytes(16 * 1024, 'x');
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (m_sending && std::chrono::steady_clock::now() < end) {
            if (!Ready(m_connection, 20, true)) continue;
            if (::send(N(m_connection), bytes.data(), static_cast<int>(bytes.size()), kNoSignal) < 0 &&
                !WouldBlock())
                break; // the connection is gone
        }
    });
}

void TestListener::StopSending() {
    m_sending = false;
    if (m_sender.joinable()) m_sender.join();
}

void TestListener::CloseConnection() {
    StopSending();
    if (m_connection != kNone) CloseNative(m_connection);
    m_connection = kNone;
}

void TestListener::CloseListener() {
    if (m_listener != kNone) CloseNative(m_listener);
    m_listener = kNone;
}

ConnectedPort::ConnectedPort(int receiveBuffer) : printer(4, receiveBuffer) {
    port.m_strPort = printer.Name();
    EXPECT_EQ(port.Open(), 1) << port.Services().LastOpenProblem();
    EXPECT_TRUE(printer.Accept()) << "the port's connection did not arrive";
}

ConnectedPort::~ConnectedPort() {
    port.Close();
}

} // namespace pw::test
