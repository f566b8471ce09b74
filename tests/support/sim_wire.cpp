#include "tests/support/sim_wire.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace pw::test {

namespace {

int Connect(const std::string& address) {
    const std::size_t colon = address.rfind(':');
    std::string host = address.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), address.substr(colon + 1).c_str(), &hints, &found) != 0) return -1;
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    return fd;
}

speed_t Speed(int baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        throw std::runtime_error("no such line rate: " + std::to_string(baud));
    }
}

} // namespace

SimWire::SimWire(const std::string& name) {
    if (name.rfind("tcp://", 0) == 0) {
        m_fd = Connect(name.substr(6));
    } else {
        m_fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    if (m_fd < 0) throw std::runtime_error("cannot open " + name);
}

SimWire::~SimWire() {
    ::close(m_fd);
}

void SimWire::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("write to the simulated printer failed");
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> SimWire::Receive(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        std::uint8_t buf[256];
        const ssize_t n = ::read(m_fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

std::vector<std::uint8_t> SimWire::Ask(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    Send(bytes);
    return Receive(count, 2000);
}

void SimWire::SetRate(int baud) {
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0) throw std::runtime_error("not a terminal");
    ::cfsetispeed(&t, Speed(baud));
    ::cfsetospeed(&t, Speed(baud));
    ::tcsetattr(m_fd, TCSANOW, &t);
}

} // namespace pw::test
