#include "sim/tcp_line.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

// Room for clients that wait while one is served; more than that are refused by the kernel.
constexpr int kBacklog = 8;

std::string AddressText(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
    }
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in.sin_port));
}

} // namespace

bool SplitListenAddress(const std::string& address, std::string& host, std::string& port) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) {
        host = "127.0.0.1";
        port = address;
    } else {
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        else if (host.find(':') != std::string::npos)
            return false; // IPv6 without brackets
    }
    if (host.empty() || port.empty() || port.size() > 5) return false;
    for (char c : port)
        if (c < '0' || c > '9') return false;
    return std::stoi(port) <= 65535;
}

int ListenTcp(const std::string& address, std::string& bound, std::string& error) {
    std::string host, port;
    if (!SplitListenAddress(address, host, port)) {
        error = "--listen needs [HOST:]PORT (an IPv6 HOST in brackets), not '" + address + "'";
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (int r = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); r != 0) {
        error = "cannot listen on " + address + ": " + ::gai_strerror(r);
        return -1;
    }
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    const int on = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, kBacklog) != 0) {
        error = "cannot listen on " + address + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        ::freeaddrinfo(found);
        return -1;
    }
    ::freeaddrinfo(found);
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    bound = AddressText(a);
    return fd;
}

int AcceptClient(int listener, std::string& peer) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&a), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return -1;
    // Replies go out as they are made, as a printer's would, not held back for more.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    peer = AddressText(a);
    return fd;
}

} // namespace sim
