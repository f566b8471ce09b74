#include "tests/support/loopback_service.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace pw::test {

namespace {

constexpr const char* kHttpError =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";

} // namespace

LoopbackService::LoopbackService(const std::string& host, int port, Kind kind) : m_kind(kind) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (m_listener < 0 || ::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listener, 16) != 0) {
        if (m_listener >= 0) ::close(m_listener);
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    }
    m_thread = std::thread([this] { Serve(); });
}

LoopbackService::~LoopbackService() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

// Polls in slices of 20 ms, so that the destructor's stop is seen at once.
void LoopbackService::Serve() {
    std::vector<int> clients;
    while (!m_stop) {
        std::vector<pollfd> watched{{m_listener, POLLIN, 0}};
        for (int c : clients) watched.push_back({c, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), 20) <= 0) continue;
        if (watched[0].revents & POLLIN) {
            const int c = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (c >= 0) {
                clients.push_back(c);
                ++m_connections;
            }
        }
        for (std::size_t i = 1; i < watched.size(); ++i) {
            if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const int c = watched[i].fd;
            char buffer[512];
            const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                m_received.append(buffer, static_cast<std::size_t>(n));
            }
            if (n <= 0) {
                ::close(c);
                clients.erase(std::find(clients.begin(), clients.end(), c));
                continue;
            }
            // A silent listener takes what comes and says nothing.
            if (m_kind == Http)
                ::send(c, kHttpError, std::char_traits<char>::length(kHttpError), MSG_NOSIGNAL);
        }
    }
    for (int c : clients) ::close(c);
}

std::string LoopbackService::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int FreeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        throw std::runtime_error("no free TCP port");
    ::close(s);
    return ntohs(a.sin_port);
}

} // namespace pw::test
